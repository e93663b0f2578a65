// The log's markup and the status panels, and the time format of the reports.

#include <gtest/gtest.h>

#include <string>

#include "app/model_window.h"
#include "engine/time_format.h"

namespace tarnwick {
namespace {

TEST(LogMarkupTest, OneBoldRunBetweenTheTags) {
  const LogLine file = parseLogMessage("Opening file [b]FEATURE_1.EVO[/b]");
  EXPECT_EQ(file.text, "Opening file FEATURE_1.EVO");
  EXPECT_EQ(file.text.substr(file.boldStart, file.boldLength), "FEATURE_1.EVO");

  const LogLine plus = parseLogMessage("[b]Dolby Digital[/b] Plus audio stream 3");
  EXPECT_EQ(plus.text, "Dolby Digital Plus audio stream 3");
  EXPECT_EQ(plus.boldStart, 0u);
  EXPECT_EQ(plus.boldLength, 13u);

  const LogLine two = parseLogMessage("a [b]one[/b] b [b]two[/b] c");
  EXPECT_EQ(two.text, "a one b two c");
  EXPECT_EQ(two.text.substr(two.boldStart, two.boldLength), "one");
}

TEST(LogMarkupTest, PlainLinesStayAsTheyAre) {
  EXPECT_EQ(parseLogMessage("Done."), (LogLine{"Done.", 0, 0}));
  EXPECT_EQ(parseLogMessage(""), (LogLine{"", 0, 0}));
  // Other bracketed text is part of the line, and a lone tag marks nothing.
  EXPECT_EQ(parseLogMessage("Opening file Movie [Disc 1].EVO"), (LogLine{"Opening file Movie [Disc 1].EVO", 0, 0}));
  EXPECT_EQ(parseLogMessage("x [b]y"), (LogLine{"x y", 0, 0}));
  EXPECT_EQ(parseLogMessage("open [ without close"), (LogLine{"open [ without close", 0, 0}));

  const LogLine bracketInBold = parseLogMessage("Opening file [b]Movie [Disc 1].EVO[/b]");
  EXPECT_EQ(bracketInBold.text.substr(bracketInBold.boldStart, bracketInBold.boldLength), "Movie [Disc 1].EVO");

  // Long lines are never cut.
  const std::string path(600, 'x');
  EXPECT_EQ(parseLogMessage("Creating [b]" + path + "[/b] done").text, "Creating " + path + " done");
}

TEST(StatusBarTest, PanelsTakeALeadingBlankAndPanelOneSetsTheHint) {
  ModelWindow window;
  EXPECT_EQ(window.statusPanel(0), " Ready");
  window.slog("Opening", 0);
  EXPECT_EQ(window.statusPanel(0), " Opening");
  EXPECT_EQ(window.statusHint(), " Select or drop an EVO file to demux");
  window.slog("512/4096 Mbytes, Remaining time: 0:05:12", 1);
  EXPECT_EQ(window.statusPanel(1), " 512/4096 Mbytes, Remaining time: 0:05:12");
  EXPECT_EQ(window.statusHint(), "512/4096 Mbytes, Remaining time: 0:05:12");
  window.slog("", 1);
  EXPECT_EQ(window.statusPanel(1), " ");
  EXPECT_EQ(window.statusHint(), "");
}

TEST(TimeFormatTest, RunningTimesOfFrameCounts) {
  // Read EVO: pictures at 24000/1001 per second.
  const auto readEvo = [](double count) { return formatLongTime(count / 24000 * 1001 / 86400); };
  EXPECT_EQ(readEvo(172627), "1:59:59");
  EXPECT_EQ(readEvo(143856), "1:39:59");
  EXPECT_EQ(readEvo(2071412), "23:59:55");
  // Demux: 23.976 pictures per second.
  EXPECT_EQ(formatLongTime(143856 / 23.976L / 86400), "1:40:00");
  EXPECT_EQ(formatLongTime(0), "0:00:00");
  EXPECT_EQ(formatLongTime(0.5), "12:00:00");
  EXPECT_EQ(formatLongTime(1.0L + 55.0L / 86400), "0:00:55");  // 24 hours and more wrap round
}

}  // namespace
}  // namespace tarnwick
