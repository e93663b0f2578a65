#pragma once
// A log sink that keeps every line it is given, tags and all.

#include <string>
#include <string_view>
#include <vector>

#include "analysers/log_sink.h"

namespace tarnwick::test {

class LinesSink : public LogSink {
 public:
  void log(std::string_view message) override { lines.emplace_back(message); }
  std::vector<std::string> lines;
};

}  // namespace tarnwick::test
