// The table of stream kinds: a row added or edited wrongly must not reach the
// scanner, the boxes or the rebuild.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "engine/scan_state.h"
#include "engine/stream_ids.h"

namespace tarnwick {
namespace {

// Two rows claiming one id would give the id the later row's kind silently;
// a slot beyond the class's slot table would write past it; renumbering past
// the kind's own ids would change a stream's kind in the rebuilt file.
TEST(StreamKinds, RowsClaimTheirIdsAloneAndTheirSlotsFitTheClassTables) {
  const ScanState scan;
  for (const StreamKindRow& row : kStreamKinds) {
    SCOPED_TRACE(row.logName);
    EXPECT_LE(row.first, row.last);
    EXPECT_LE(row.first + row.slotCount - 1, row.last) << "slots beyond the kind's ids";
    for (unsigned id = row.first; id <= row.last; ++id) EXPECT_EQ(kindOf(row.field, id), &row) << "id " << id;
    const std::size_t table = row.streamClass == StreamClass::Video   ? scan.VideoSlots.size()
                              : row.streamClass == StreamClass::Audio ? scan.AudioSlots.size()
                                                                      : scan.SubpictureSlots.size();
    EXPECT_LE(row.slotCount, table);
    if (row.renumberedUpTo != 0) {
      EXPECT_GE(row.renumberedUpTo, row.first);
      EXPECT_LE(row.renumberedUpTo, row.last);
    }
    EXPECT_EQ(row.audioKind.has_value(), row.streamClass == StreamClass::Audio && row.slotCount > 0)
        << "an audio kind the scanner reads needs its payload kind";
  }
}

// Every kind that a box can hold is told apart in the log and in the file
// names: a found line or a caption that two kinds share names the wrong one.
TEST(StreamKinds, BoxedKindsHaveNamesOfTheirOwn) {
  std::set<std::string> found, captions, logNames;
  for (const StreamKindRow& row : kStreamKinds) {
    SCOPED_TRACE(row.logName);
    EXPECT_FALSE(std::string(row.logName).empty());
    if (row.slotCount == 0) continue;
    EXPECT_FALSE(std::string(row.trackWord).empty());
    EXPECT_TRUE(found.insert(row.foundPrefix).second) << row.foundPrefix;
    EXPECT_TRUE(captions.insert(row.caption).second) << row.caption;
    const std::string c = kindName(row.streamClass, row.first);
    EXPECT_EQ(c, row.caption);
  }
}

}  // namespace
}  // namespace tarnwick
