// The console report's rendering for terminals and files, and JSON string
// escaping: what the process tests cannot reach without a terminal.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/cli/console_report.h"
#include "app/cli/json_report.h"

namespace tarnwick::cli {
namespace {

std::string contents(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
  return text;
}

struct Console {
  explicit Console(bool terminals) {
    streams.out = std::tmpfile();
    streams.err = std::tmpfile();
    streams.outIsTerminal = streams.errIsTerminal = terminals;
  }
  ~Console() {
    std::fclose(streams.out);
    std::fclose(streams.err);
  }
  ConsoleStreams streams;
};

// What Read EVO reports over a run with one progress step.
void run(ConsoleReport& w) {
  w.log("[b]Dolby Digital[/b] audio stream 0 found!");
  w.progress({4 << 20, 8 << 20, 0.0, ""});
  w.log("Done.");
  w.detail("");
}

TEST(CliConsoleTest, TerminalsGetBoldAndAProgressLine) {
  Console c(true);
  {
    ConsoleReport w(c.streams);
    run(w);
  }
  EXPECT_EQ(contents(c.streams.out), "\033[1mDolby Digital\033[0m audio stream 0 found!\nDone.\n");
  // Rewritten in place, then wiped before the next log line on the same screen.
  EXPECT_EQ(contents(c.streams.err), "\r4/8 Mbytes, Remaining time: 0:00:01\033[K\r\033[K");
}

TEST(CliConsoleTest, ProgressLeftOnTheTerminalEndsWithANewline) {
  Console c(true);
  {
    ConsoleReport w(c.streams);
    w.setPrintLog(false);
    run(w);
    w.detail("1/8 Mbytes");  // an error ends the run here: the destructor ends the line
  }
  EXPECT_EQ(contents(c.streams.out), "");
  EXPECT_EQ(contents(c.streams.err),
            "\r4/8 Mbytes, Remaining time: 0:00:01\033[K\n\r1/8 Mbytes\033[K\n");
}

TEST(CliConsoleTest, FilesGetPlainLinesAndNoProgress) {
  Console c(false);
  {
    ConsoleReport w(c.streams);
    run(w);
  }
  EXPECT_EQ(contents(c.streams.out), "Dolby Digital audio stream 0 found!\nDone.\n");
  EXPECT_EQ(contents(c.streams.err), "");
}

TEST(CliConsoleTest, JsonStringsEscapeAndRepairText) {
  EXPECT_EQ(jsonString("a\"b\\c/\n\t\x01\x1f"), R"("a\"b\\c/\n\t\u0001\u001f")");
  // Well-formed UTF-8 passes; every byte of a broken sequence becomes U+FFFD.
  EXPECT_EQ(jsonString("\xC3\xA9 \xF0\x9F\x8E\xAC"), "\"\xC3\xA9 \xF0\x9F\x8E\xAC\"");
  EXPECT_EQ(jsonString("\xFF"), R"("\ufffd")");
  EXPECT_EQ(jsonString("\xC0\xAF"), R"("\ufffd\ufffd")");      // overlong '/'
  EXPECT_EQ(jsonString("\xED\xA0\x80"), R"("\ufffd\ufffd\ufffd")");  // a surrogate
  EXPECT_EQ(jsonString("\xE2\x82"), R"("\ufffd\ufffd")");      // cut short at the end
  EXPECT_EQ(jsonString("\xF4\x90\x80\x80"), R"("\ufffd\ufffd\ufffd\ufffd")");  // past U+10FFFF
}

}  // namespace
}  // namespace tarnwick::cli
