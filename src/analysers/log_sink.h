#pragma once
// Where analysers send their report lines ("[b]" … "[/b]" mark bold).

#include <string_view>

namespace tarnwick {

class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void log(std::string_view message) = 0;
};

}  // namespace tarnwick
