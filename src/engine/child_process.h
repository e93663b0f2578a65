#pragma once
// Another program run as a child of this one: its arguments as a list, never
// through a shell, so that blanks, quotes and non-ASCII characters in paths
// pass unchanged; its output read line by line while the caller stays
// responsive, and stopped when the caller asks.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnwick {

struct ChildResult {
  int exitCode = -1;    // the program's exit status; −1 when it did not exit by itself
  bool stopped = false;  // keepGoing() said no and the program was ended
};

// Runs `program` (a path) with `arguments`. Each line the program writes to
// its standard output or error goes to onLine, without its line end. At least
// every tenth of a second, and after each line, keepGoing() is asked; when it
// returns false the program is ended and the call returns. A program that
// cannot be started raises a FileError naming it.
ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::function<void(std::string_view)>& onLine, const std::function<bool()>& keepGoing);

// A program's path: `name` itself when it holds a folder, else the first
// executable of that name in a folder of PATH (on Windows also with ".exe"),
// else the first of `extraPlaces` that exists. Empty when none is found.
std::string findProgram(const std::string& name, const std::vector<std::string>& extraPlaces = {});

#ifdef _WIN32
// The command line that hands `arguments` to a program unchanged, as the
// C runtime of the child splits it.
std::wstring windowsCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments);
#endif

}  // namespace tarnwick
