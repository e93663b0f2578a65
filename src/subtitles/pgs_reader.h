#pragma once
// Reads a PGS stream back into captions: what each display set shows, from
// its start to the next composition.

#include <cstdint>
#include <functional>
#include <istream>

#include "analysers/log_sink.h"
#include "subtitles/caption.h"

namespace tarnwick {

struct PgsReadSummary {
  std::uint64_t captions = 0;
  std::uint64_t displaySets = 0;
  int videoWidth = 0;  // from the last composition segment
  int videoHeight = 0;
  bool damaged = false;  // something could not be read: said in the log
};

// Hands over each caption (one per composition object) when the display set
// after it ends it; one still shown at the end of the stream has no end.
// Damaged segments and objects are skipped with one log line each.
using CaptionHandler = std::function<void(const Caption& c)>;
PgsReadSummary readPgs(std::istream& in, LogSink& log, const CaptionHandler& onCaption);

// Decodes PGS run-length data into width × height indices; false when it
// does not fill exactly that many lines of that many pixels.
bool decodePgsObject(const std::uint8_t* data, std::size_t size, int width, int height, std::uint8_t* out);

}  // namespace tarnwick
