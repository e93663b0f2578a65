#pragma once
// Log lines: plain text with one optional bold run marked "[b]" … "[/b]".

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnwick {

struct LogLine {
  std::string text;        // the message without its tags
  std::size_t boldStart = 0;
  std::size_t boldLength = 0;  // 0: the line is plain

  bool operator==(const LogLine&) const = default;
};

// Strips "[b]" and "[/b]" and records the first bold pair. Other bracketed
// text is kept as it stands and the line is never cut.
LogLine parseLogMessage(std::string_view message);

}  // namespace tarnwick
