#include "engine/child_process.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "engine/file_io.h"

#ifdef _WIN32
#include "engine/win32.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace tarnwick {
namespace {

// Cuts what arrives into lines; a carriage return ends a line too, since
// progress lines are often rewritten in place.
class LineSplitter {
 public:
  explicit LineSplitter(const std::function<void(std::string_view)>& onLine) : onLine_(onLine) {}
  void add(const char* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      const char c = data[i];
      if (c == '\n' || c == '\r') {
        if (!line_.empty()) onLine_(line_);
        line_.clear();
      } else {
        line_ += c;
      }
    }
  }
  void finish() {
    if (!line_.empty()) onLine_(line_);
    line_.clear();
  }

 private:
  const std::function<void(std::string_view)>& onLine_;
  std::string line_;
};

bool isExecutable(const std::filesystem::path& p) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(p, error)) return false;
#ifdef _WIN32
  return true;
#else
  return ::access(p.c_str(), X_OK) == 0;
#endif
}

}  // namespace

std::string findProgram(const std::string& name, const std::vector<std::string>& extraPlaces) {
  if (name.empty()) return {};
  const std::filesystem::path given = pathFromUtf8(name);
  if (given.has_parent_path()) return isExecutable(given) ? name : std::string();
#ifdef _WIN32
  const wchar_t* path = ::_wgetenv(L"PATH");
  const std::wstring folders = path ? path : L"";
  constexpr wchar_t kListSeparator = L';';
  const std::vector<std::filesystem::path> names = {given, std::filesystem::path(given).concat(L".exe")};
#else
  const char* path = std::getenv("PATH");
  const std::string folders = path ? path : "";
  constexpr char kListSeparator = ':';
  const std::vector<std::filesystem::path> names = {given};
#endif
  std::size_t start = 0;
  while (start <= folders.size()) {
    std::size_t end = folders.find(kListSeparator, start);
    if (end == folders.npos) end = folders.size();
    const std::filesystem::path folder = folders.substr(start, end - start);
    if (!folder.empty())
      for (const auto& n : names)
        if (isExecutable(folder / n)) return utf8FromPath(folder / n);
    start = end + 1;
  }
  for (const std::string& place : extraPlaces)
    if (isExecutable(pathFromUtf8(place))) return place;
  return {};
}

#ifdef _WIN32

std::wstring windowsCommandLine(const std::wstring& program, const std::vector<std::wstring>& arguments) {
  // The child's C runtime splits at blanks outside quotes; a run of
  // backslashes is literal unless a quote follows it.
  const auto quote = [](const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
      backslashes = 0;
      out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
  };
  std::wstring line = quote(program);
  for (const std::wstring& arg : arguments) line += L" " + quote(arg);
  return line;
}

ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::function<void(std::string_view)>& onLine, const std::function<bool()>& keepGoing) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) throw cannotOpen(program, "No pipe for its output");
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::vector<std::wstring> wide;
  for (const std::string& a : arguments) wide.push_back(pathFromUtf8(a).wstring());
  const std::wstring programW = pathFromUtf8(program).wstring();
  std::wstring line = windowsCommandLine(programW, wide);
  PROCESS_INFORMATION info{};
  const BOOL started = ::CreateProcessW(programW.c_str(), line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                       nullptr, nullptr, &startup, &info);
  ::CloseHandle(writeEnd);
  if (!started) {
    ::CloseHandle(readEnd);
    throw cannotOpen(program, "It could not be started");
  }
  ::CloseHandle(info.hThread);
  LineSplitter lines(onLine);
  ChildResult result;
  char buffer[4096];
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr)) break;  // the child closed it
    if (available > 0) {
      DWORD got = 0;
      if (!::ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) || got == 0) break;
      lines.add(buffer, got);
    } else if (::WaitForSingleObject(info.hProcess, 100) == WAIT_OBJECT_0) {
      continue;  // read what is left until the pipe breaks
    }
    if (!keepGoing()) {
      ::TerminateProcess(info.hProcess, 1);
      result.stopped = true;
      break;
    }
  }
  lines.finish();
  ::WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  if (!result.stopped && ::GetExitCodeProcess(info.hProcess, &code)) result.exitCode = static_cast<int>(code);
  ::CloseHandle(info.hProcess);
  ::CloseHandle(readEnd);
  return result;
}

#else

ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     const std::function<void(std::string_view)>& onLine, const std::function<bool()>& keepGoing) {
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw cannotOpen(program, std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawnError = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeEnds[1]);
  if (spawnError != 0) {
    ::close(pipeEnds[0]);
    throw cannotOpen(program, std::strerror(spawnError));
  }
  LineSplitter lines(onLine);
  ChildResult result;
  char buffer[4096];
  for (;;) {
    pollfd p{pipeEnds[0], POLLIN, 0};
    const int ready = ::poll(&p, 1, 100);
    if (ready > 0) {
      const ssize_t got = ::read(pipeEnds[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;  // every writer closed the pipe: the child is done
      lines.add(buffer, static_cast<std::size_t>(got));
    }
    if (!keepGoing()) {
      ::kill(pid, SIGTERM);
      result.stopped = true;
      break;
    }
  }
  ::close(pipeEnds[0]);
  lines.finish();
  int status = 0;
  if (result.stopped) {
    // A program that ignores the request to end is ended after two seconds.
    for (int waited = 0; ::waitpid(pid, &status, WNOHANG) == 0; ++waited) {
      if (waited == 20) ::kill(pid, SIGKILL);
      ::usleep(100000);
    }
    return result;
  }
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

#endif

}  // namespace tarnwick
