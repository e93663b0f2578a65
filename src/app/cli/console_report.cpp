#include "app/cli/console_report.h"

#ifdef _WIN32
#include "engine/win32.h"
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <csignal>

#include "engine/message_log.h"
#include "engine/utf8.h"

namespace tarnwick::cli {
namespace {

constexpr const char* kBoldOn = "\033[1m";
constexpr const char* kBoldOff = "\033[0m";
constexpr const char* kClearToEnd = "\033[K";

#ifdef _WIN32
// A console, and one that takes the escapes for bold and for clearing the
// progress line (Windows 10 on). isatty() would also say yes for NUL.
bool escapeConsole(DWORD handle) {
  const HANDLE h = ::GetStdHandle(handle);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || ::GetConsoleMode(h, &mode) == 0) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
#endif

// Set by the handler, which may do nothing else; read by the cancel polls.
volatile std::sig_atomic_t interruptSeen = 0;

#ifdef _WIN32
BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (interruptSeen) return FALSE;  // the second: the default, which ends the process
  interruptSeen = 1;
  return TRUE;
}
#else
extern "C" void onInterrupt(int) { interruptSeen = 1; }
#endif

}  // namespace

void catchInterrupts() {
#ifdef _WIN32
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  // Once caught, the signal is back to its default: a second one ends the
  // process. Reads and writes restart; the polls see the flag.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
#endif
}

bool interrupted() { return interruptSeen != 0; }

#ifdef _WIN32
ConsoleStreams processStreams() {
  ConsoleStreams streams;
  streams.outIsTerminal = escapeConsole(STD_OUTPUT_HANDLE);
  streams.errIsTerminal = escapeConsole(STD_ERROR_HANDLE);
  return streams;
}
#else
ConsoleStreams processStreams() {
  ConsoleStreams streams;
  streams.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  streams.errIsTerminal = ::isatty(STDERR_FILENO) == 1;
  return streams;
}
#endif

void ConsoleReport::log(std::string_view message) {
  if (!printLog_) return;
  const LogLine line = parseLogMessage(message);
  // Both streams on one terminal: the log line must not land on the end of
  // a progress line.
  if (streams_.outIsTerminal) clearProgress();
  std::FILE* out = streams_.out;
  // Labels from a playlist are its bytes as read: shown as UTF-8, and never
  // a control character that the terminal would act on.
  const std::string_view t = line.text;
  if (streams_.outIsTerminal && line.boldLength > 0) {
    std::fprintf(out, "%s%s%s%s%s\n", printableUtf8(t.substr(0, line.boldStart)).c_str(), kBoldOn,
                 printableUtf8(t.substr(line.boldStart, line.boldLength)).c_str(), kBoldOff,
                 printableUtf8(t.substr(line.boldStart + line.boldLength)).c_str());
  } else {
    std::fputs(printableUtf8(t).c_str(), out);
    std::fputc('\n', out);
  }
  if (streams_.outIsTerminal) std::fflush(out);
}

void ConsoleReport::detail(std::string_view detailText) {
  if (!streams_.errIsTerminal) return;
  const std::string text(detailText);
  if (text.empty()) {
    endProgress();
    return;
  }
  std::fprintf(streams_.err, "\r%s%s%s", prefix_.c_str(), text.c_str(), kClearToEnd);
  std::fflush(streams_.err);
  progressShown_ = true;
}

void ConsoleReport::endProgress() {
  if (!progressShown_) return;
  std::fputc('\n', streams_.err);
  std::fflush(streams_.err);
  progressShown_ = false;
}

void ConsoleReport::clearProgress() {
  if (!progressShown_) return;
  std::fprintf(streams_.err, "\r%s", kClearToEnd);
  std::fflush(streams_.err);
  progressShown_ = false;
}

}  // namespace tarnwick::cli
