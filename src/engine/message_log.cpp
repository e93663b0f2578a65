#include "engine/message_log.h"

namespace tarnwick {

LogLine parseLogMessage(std::string_view message) {
  constexpr std::string_view kOpen = "[b]";
  constexpr std::string_view kClose = "[/b]";
  LogLine line;
  line.text.reserve(message.size());
  bool inBold = false;
  bool boldDone = false;
  std::size_t i = 0;
  while (i < message.size()) {
    const std::string_view rest = message.substr(i);
    if (rest.starts_with(kOpen)) {
      if (!boldDone && !inBold) {
        inBold = true;
        line.boldStart = line.text.size();
      }
      i += kOpen.size();
    } else if (rest.starts_with(kClose)) {
      if (inBold) {
        inBold = false;
        boldDone = true;
        line.boldLength = line.text.size() - line.boldStart;
      }
      i += kClose.size();
    } else {
      line.text += message[i];
      ++i;
    }
  }
  // A "[b]" without its "[/b]" marks nothing.
  if (!boldDone) {
    line.boldStart = 0;
    line.boldLength = 0;
  }
  if (line.boldLength == 0) line.boldStart = 0;
  return line;
}

}  // namespace tarnwick
