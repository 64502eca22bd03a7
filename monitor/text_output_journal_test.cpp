// The journal's line bound: where TextOutput cuts a line that would be longer
// than kJournalLineMax, and that nothing of the line is lost or gets a level
// of its own from the server's bytes.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/testing/fake_console_sink.h"
#include "monitor/text_output.h"
#include "runtime/runtime_errors.h"

namespace {

constexpr std::size_t kBound = TextOutput::kJournalLineMax;
// The most text a line can hold: the bound less "<N>" and the line feed.
constexpr std::size_t kMostText = kBound - 4;

std::string Xs(std::size_t count) { return std::string(count, 'x'); }

// The lines the journal reads from everything written, each with its LF.
std::vector<std::string> LinesOf(const std::string& written) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < written.size();) {
    std::size_t end = written.find('\n', start);
    end = end == std::string::npos ? written.size() : end + 1;
    lines.push_back(written.substr(start, end - start));
    start = end;
  }
  return lines;
}

// Every line is at most the bound and starts with `prefix`; returns the lines
// joined without their prefixes and line ends.
std::string CheckLinesAndJoin(const std::string& written, const std::string& prefix) {
  std::string joined;
  for (const std::string& line : LinesOf(written)) {
    EXPECT_LE(line.size(), kBound);
    EXPECT_EQ(prefix, line.substr(0, prefix.size())) << line.substr(0, 20);
    std::string text = line.substr(prefix.size());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    joined += text;
  }
  return joined;
}

// One echo (a Write per byte, as the monitor echoes) or one line of the
// log, and what the journal's stream gets for it.
TEST(TextOutputJournalTest, LineLongerThanTheBoundGoesOnInLinesOfItsOwnAtItsLevel) {
  struct Case {
    const char* what;
    bool echo;  // else a line of the log at `level`
    std::string text;
    LineLevel level;
    std::vector<std::string> writes;
  } cases[] = {
      {"one byte below the bound",
       true,
       Xs(kMostText - 1) + "\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText - 1) + "\n"}},
      {"exactly the bound",
       true,
       Xs(kMostText) + "\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText) + "\n"}},
      {"one byte above the bound",
       true,
       Xs(kMostText + 1) + "\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText) + "\n", "<7>x\n"}},
      {"a CR LF past the bound ends the line whole, no empty piece after it",
       true,
       Xs(kMostText) + "\r\n" + "y\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText) + "\n", "<7>y\n"}},
      {"a CR past the bound that ends no line is cut off whole",
       true,
       Xs(kMostText) + "\ry\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText) + "\n", "<7>^My\n"}},
      {"a caret notation across the bound goes whole to the next line",
       true,
       Xs(kMostText - 1) + "\x1b[0m\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText - 1) + "\n", "<7>^[[0m\n"}},
      {"a caret notation that just fits stays",
       true,
       Xs(kMostText - 2) + "\x1b[\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText - 2) + "^[\n", "<7>[\n"}},
      {"a UTF-8 character across the bound goes whole to the next line",
       true,
       Xs(kMostText - 2) + "\xe2\x82\xac!\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText - 2) + "\n", "<7>\xe2\x82\xac!\n"}},
      {"a byte that starts no UTF-8 character is cut anywhere",
       true,
       Xs(kMostText - 1) + "\xfft\xff\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText - 1) + "\xff\n", "<7>t\xff\n"}},
      {"a level in the server's bytes at the cut is text after ours",
       true,
       Xs(kMostText) + "<0>INJECTED\r\n",
       LineLevel::kDebug,
       {"<7>" + Xs(kMostText) + "\n", "<7><0>INJECTED\n"}},
      {"a report's value",
       false,
       "STATE: " + Xs(kMostText),
       LineLevel::kInfo,
       {"<6>STATE: " + Xs(kMostText - 7) + "\n", "<6>" + Xs(7) + "\n"}},
      {"an error's message",
       false,
       "Error: " + Xs(kMostText) + "<3>",
       LineLevel::kError,
       {"<3>Error: " + Xs(kMostText - 7) + "\n", "<3>" + Xs(7) + "<3>\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeConsoleSink sink(/*character_device=*/false, StreamReader::kJournal);
    TextOutput out(sink);
    if (c.echo) {
      std::size_t done = 0;
      out.WriteBytewise(c.text, &done, c.level);
    } else {
      out.WriteLine(c.text, c.level);
    }
    EXPECT_EQ(c.writes, sink.writes);
    EXPECT_EQ(0u, out.Pending());
  }
}

// Far above the bound, with everything a line can hold: every piece keeps to
// the bound and the level, and the pieces are the line.
TEST(TextOutputJournalTest, PiecesOfALineFarAboveTheBoundAreTheLine) {
  std::string value;
  std::string shown;
  while (value.size() < 60000) {
    value += "abc\x1b\xc3\xa9\xf0\x9f\x98\x80<0>\r\t";
    shown += "abc^[\xc3\xa9\xf0\x9f\x98\x80<0>^M\t";
  }
  struct Level {
    LineLevel level;
    const char* prefix;
  };
  for (Level level : {Level{LineLevel::kInfo, "<6>"}, Level{LineLevel::kError, "<3>"}}) {
    FakeConsoleSink sink(false, StreamReader::kJournal);
    TextOutput out(sink);
    out.WriteLine(value, level.level);
    EXPECT_EQ(shown, CheckLinesAndJoin(sink.Written(), level.prefix));
    EXPECT_GE(sink.writes.size(), shown.size() / kMostText + 1);
  }
}

// The echo as the monitor writes it when the bytes come one at a time: a
// statement per byte, and the open line written out before each wait. The
// journal joins the writes into lines; none of them passes the bound.
TEST(TextOutputJournalTest, EchoWrittenByteByByteIsCutAtTheBoundAcrossWaits) {
  const std::string line = Xs(kMostText * 2 + 10) + "<3>tail";
  FakeConsoleSink sink(false, StreamReader::kJournal);
  TextOutput out(sink);
  std::size_t left_waiting = 0;
  for (char byte : line + "\r\n") {
    out.Write(std::string_view(&byte, 1), LineLevel::kDebug);
    out.WriteOutOpenLine();
    left_waiting += out.Pending();
  }
  EXPECT_EQ(0u, left_waiting);
  out.WriteLine("12:00:00.000 Disconnected", LineLevel::kNotice);
  const std::vector<std::string> lines = LinesOf(sink.Written());
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("<7>" + Xs(kMostText) + "\n", lines[0]);
  EXPECT_EQ("<7>" + Xs(kMostText) + "\n", lines[1]);
  EXPECT_EQ("<7>" + Xs(10) + "<3>tail\n", lines[2]);
  EXPECT_EQ("<5>12:00:00.000 Disconnected\n", lines[3]);
}

// A failed write drops the open line's start: the rest of the line begins a
// line with its own prefix and a fresh count, so it too keeps to the bound.
TEST(TextOutputJournalTest, LineAfterAFailedWriteCountsFromItsOwnStart) {
  FakeConsoleSink sink(false, StreamReader::kJournal);
  int calls = 0;
  sink.fail_write = [&](std::string_view) { return ++calls == 1 ? 28 : 0; };
  TextOutput out(sink);
  std::size_t done = 0;
  out.WriteBytewise(Xs(100), &done, LineLevel::kDebug);
  EXPECT_THROW(out.WriteOutOpenLine(), EInOutError);
  out.WriteBytewise(Xs(kMostText + 1) + "\r\n", &done, LineLevel::kDebug);
  EXPECT_EQ((std::vector<std::string>{"<7>" + Xs(kMostText) + "\n", "<7>x\n"}), sink.writes);
}

// Files, pipes and terminals get the long line as it is.
TEST(TextOutputJournalTest, NoOtherStreamIsCut) {
  const std::string line = Xs(kBound * 3) + "<0>INJECTED\r\n";
  for (bool terminal : {false, true}) {
    FakeConsoleSink sink(terminal, terminal ? StreamReader::kTerminal : StreamReader::kPlain);
    TextOutput out(sink);
    std::size_t done = 0;
    out.WriteBytewise(line, &done, LineLevel::kDebug);
    out.WriteLine(line, LineLevel::kInfo);
    out.Flush();
    EXPECT_EQ(line + line + "\r\n", sink.Written());
  }
}

}  // namespace
