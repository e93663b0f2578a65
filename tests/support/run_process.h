#pragma once
// Runs a program without a shell, its standard output and error caught.

#include <string>
#include <vector>

namespace tarnwick::test {

struct ProcessResult {
  int status = -1;  // the exit status; -1 when it did not exit normally
  std::string out;
  std::string err;
};

// argv[0] is looked up on PATH when it holds no slash.
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& stdinText = "");
bool onPath(const std::string& program);

}  // namespace tarnwick::test
