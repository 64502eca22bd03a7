#include "monitor/text_output.h"

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/testing/fake_console_sink.h"
#include "monitor/version.h"
#include "runtime/runtime_errors.h"

namespace {

// The first line the monitor writes.
const std::string kBannerLine = std::string("Version: ") + kProgramVersion;

TEST(TextOutputTest, CharacterDeviceWritesOutAfterEveryStatement) {
  FakeConsoleSink sink(/*character_device=*/true);
  TextOutput out(sink);
  out.WriteLine(kBannerLine);
  out.WriteLine();
  out.Write("<");
  out.Write("E");
  EXPECT_EQ((std::vector<std::string>{kBannerLine + "\r\n", "\r\n", "<", "E"}), sink.writes);
  EXPECT_EQ(0u, out.Pending());
  EXPECT_EQ(1, sink.opens);
}

TEST(TextOutputTest, LongStatementOnCharacterDeviceGoesOutInBufferSizedPieces) {
  FakeConsoleSink sink(true);
  TextOutput out(sink);
  out.WriteLine(std::string(200, 'x'));
  ASSERT_EQ(2u, sink.writes.size());
  EXPECT_EQ(128u, sink.writes[0].size());
  EXPECT_EQ(74u, sink.writes[1].size());
}

TEST(TextOutputTest, FileOrPipeGetsWholeBlocksUntilFlushed) {
  FakeConsoleSink sink(/*character_device=*/false);
  TextOutput out(sink);
  std::string expected;
  for (int i = 0; i < 30; ++i) {
    std::string line = "line " + std::to_string(i);
    out.WriteLine(line);
    out.Write("!");
    expected += line + "\r\n!";
  }
  for (const std::string& block : sink.writes) EXPECT_EQ(128u, block.size());
  EXPECT_EQ(expected.size() / 128, sink.writes.size());
  EXPECT_EQ(expected.size() % 128, out.Pending());
  out.Flush();
  EXPECT_EQ(expected, sink.Written());
  EXPECT_EQ(0u, out.Pending());
}

TEST(TextOutputTest, FlushOfAnEmptyBufferWritesAndOpensNothing) {
  FakeConsoleSink sink(false);
  TextOutput out(sink);
  out.Flush();
  EXPECT_EQ(0, sink.opens);
  EXPECT_TRUE(sink.writes.empty());
}

TEST(TextOutputTest, FailedWriteRaisesWithTheNumberAndDropsTheBlock) {
  struct Case {
    int error;
    const char* message;
  };
  for (Case c : {Case{5, "File access denied"}, Case{28, "I/O error 28"}, Case{32, "I/O error 32"},
                 Case{101, "Disk full"}}) {
    FakeConsoleSink sink(true);
    TextOutput out(sink);
    sink.fail_write = [&](std::string_view block) {
      return block.find("lost") != std::string_view::npos ? c.error : 0;
    };
    try {
      out.WriteLine("lost");
      ADD_FAILURE() << "no error for " << c.error;
    } catch (const EInOutError& error) {
      EXPECT_EQ(c.error, error.ErrorCode());
      EXPECT_EQ(c.message, error.Message());
      EXPECT_STREQ("EInOutError", error.ClassName());
    }
    out.WriteLine("next");
    EXPECT_EQ("next\r\n", sink.Written());
  }
}

TEST(TextOutputTest, FailedBlockEndsTheStatementAndIsNotSentAgain) {
  FakeConsoleSink sink(false);
  TextOutput out(sink);
  int calls = 0;
  sink.fail_write = [&](std::string_view) { return ++calls == 1 ? 28 : 0; };
  out.Write(std::string(100, 'a'));
  EXPECT_THROW(out.WriteLine(std::string(300, 'b')), EInOutError);
  EXPECT_EQ(0u, out.Pending());  // the rest of the statement was not written
  out.Flush();
  EXPECT_TRUE(sink.writes.empty());
  out.WriteLine("c");
  out.Flush();
  EXPECT_EQ("c\r\n", sink.Written());
}

TEST(TextOutputTest, StreamThatCannotBeOpenedFailsEachWriteUntilItOpens) {
  FakeConsoleSink sink(true);
  sink.open_error = 105;
  TextOutput out(sink);
  try {
    out.WriteLine(kBannerLine);
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(105, error.ErrorCode());
    EXPECT_EQ("I/O error 105", error.Message());
  }
  EXPECT_THROW(out.Write("x"), EInOutError);
  sink.open_error = 0;
  out.Write("y");
  EXPECT_EQ("y", sink.Written());
  EXPECT_EQ(3, sink.opens);
}

}  // namespace

namespace {

// What the sink saw, and the statement that failed (0: none).
struct Outcome {
  std::vector<std::string> writes;
  std::vector<std::string> failed;
  std::size_t failed_at = 0;
  std::size_t pending = 0;
  bool operator==(const Outcome&) const = default;
};

// WriteBytewise against one Write statement per byte, after a line that
// leaves the buffer part full, with the sink failing one chosen write.
TEST(TextOutputTest, WriteBytewiseDoesWhatOneStatementPerByteDoes) {
  // Line ends too, where the journal writes out.
  const std::string bytes = std::string(150, 'b') + "\r\n" + std::string(40, 'c') + "\r\n" +
                            std::string(100, 'd') + "\x1b\r";
  struct Stream {
    bool character_device;
    StreamReader reader;
  };
  for (Stream stream :
       {Stream{false, StreamReader::kPlain}, Stream{true, StreamReader::kPlain},
        Stream{true, StreamReader::kTerminal}, Stream{false, StreamReader::kJournal}}) {
    const bool character_device = stream.character_device;
    for (int failing_write : {0, 1, 2, 3}) {
      SCOPED_TRACE(testing::Message()
                   << "character device " << character_device << ", reader "
                   << static_cast<int>(stream.reader) << ", failing write " << failing_write);
      auto run = [&](bool bytewise) {
        FakeConsoleSink sink(character_device, stream.reader);
        int writes = 0;
        sink.fail_write = [&](std::string_view) { return ++writes == failing_write ? 101 : 0; };
        TextOutput out(sink);
        Outcome outcome;
        if (!character_device) out.Write("ab");  // the block starts part full
        std::size_t done = 0;
        try {
          if (bytewise) {
            out.WriteBytewise(bytes, &done);
          } else {
            for (char byte : bytes) {
              ++done;
              out.Write(std::string_view(&byte, 1));
            }
          }
          done = 0;
        } catch (const EInOutError& error) {
          EXPECT_EQ(101, error.ErrorCode());
          outcome.failed_at = done;
        }
        outcome.writes = sink.writes;
        outcome.failed = sink.failed;
        outcome.pending = out.Pending();
        return outcome;
      };
      EXPECT_EQ(run(false), run(true));
    }
  }
}

TEST(TextOutputTest, WriteBytewiseCountsTheByteWhoseStatementCouldNotOpenTheStream) {
  FakeConsoleSink sink(false);
  sink.open_error = 105;
  TextOutput out(sink);
  std::size_t done = 7;
  EXPECT_THROW(out.WriteBytewise("xyz", &done), EInOutError);
  EXPECT_EQ(1u, done);
}

}  // namespace

namespace {

// What each reader gets for bytes a terminal acts on, and for those it
// shows. Every statement of the log goes through the same path, so the cases
// are written once as an echo (byte by byte) and once inside a line.
TEST(TextOutputTest, TerminalGetsControlBytesInCaretNotationOtherStreamsExactly) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string on_terminal;
  } cases[] = {
      {"OSC title", "\x1b]0;owned\x07", "^[]0;owned\x07"},
      {"CSI clear screen, cursor home", "\x1b[2J\x1b[H", "^[[2J^[[H"},
      {"OSC 52 clipboard", "\x1b]52;c;cm0gLXJmIH4=\x1b\\", "^[]52;c;cm0gLXJmIH4=^[\\"},
      {"SO / SI", "\x0e\x0f", "^N^O"},
      {"DCS string", "\x1bPq#0;2;0;0;0\x1b\\", "^[Pq#0;2;0;0;0^[\\"},
      {"DEL, NUL, other C0", std::string("\x7f\0\x01\x1a\x1f", 5), "^?^@^A^Z^_"},
      {"BEL BS TAB LF CR stay", "\a\b\t\n\r", "\a\b\t\n\r"},
      {"printable and 8-bit bytes stay", "<Temp>41.5</Temp>\xc3\xa9\x9b\xff",
       "<Temp>41.5</Temp>\xc3\xa9\x9b\xff"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeConsoleSink terminal(true, StreamReader::kTerminal);
    TextOutput on_terminal(terminal);
    std::size_t done = 0;
    on_terminal.WriteBytewise(c.bytes, &done);
    on_terminal.WriteLine("Error: " + c.bytes);
    EXPECT_EQ(c.on_terminal + "Error: " + c.on_terminal + "\r\n", terminal.Written());
    // The echo keeps its write-out per byte: one write per byte, shown or not.
    EXPECT_EQ(c.bytes.size() + 1, terminal.writes.size());

    for (bool character_device : {true, false}) {
      FakeConsoleSink plain(character_device);
      TextOutput exact(plain);
      exact.WriteBytewise(c.bytes, &done);
      exact.WriteLine("Error: " + c.bytes);
      exact.Flush();
      EXPECT_EQ(c.bytes + "Error: " + c.bytes + "\r\n", plain.Written());
    }
  }
}

TEST(TextOutputTest, CaretNotationAcrossTheEndOfTheBufferLosesNothing) {
  FakeConsoleSink sink(true, StreamReader::kTerminal);
  TextOutput out(sink);
  out.WriteLine(std::string(127, 'x') + "\x1b" + std::string(200, 'y') + "\x0e");
  EXPECT_EQ(std::string(127, 'x') + "^[" + std::string(200, 'y') + "^N\r\n", sink.Written());
  for (const std::string& block : sink.writes) EXPECT_LE(block.size(), TextOutput::kBufferSize);
}

}  // namespace

namespace {

// One statement of a journal case: an echo (byte by byte, as the monitor
// writes it), a line, or the point where the monitor is about to wait.
struct Statement {
  enum class Kind { kEcho, kLine, kWait } kind;
  std::string text;
  LineLevel level = LineLevel::kInfo;
};

Statement Echo(std::string bytes) {
  return {Statement::Kind::kEcho, std::move(bytes), LineLevel::kDebug};
}
Statement Line(std::string text, LineLevel level = LineLevel::kInfo) {
  return {Statement::Kind::kLine, std::move(text), level};
}
Statement Wait() { return {Statement::Kind::kWait, ""}; }

void RunStatements(TextOutput& out, const std::vector<Statement>& statements) {
  for (const Statement& statement : statements) {
    std::size_t done = 0;
    switch (statement.kind) {
      case Statement::Kind::kEcho:
        out.WriteBytewise(statement.text, &done, statement.level);
        break;
      case Statement::Kind::kLine:
        out.WriteLine(statement.text, statement.level);
        break;
      case Statement::Kind::kWait:
        out.WriteOutOpenLine();
        break;
    }
  }
}

// Each write the journal's stream gets: whole lines with their level, LF
// only, the start of an open line when the monitor is about to wait.
TEST(TextOutputTest, JournalGetsEachLineInOneWriteWithItsLevel) {
  struct Case {
    const char* what;
    std::vector<Statement> statements;
    std::vector<std::string> writes;
  } cases[] = {
      {"banner and empty line",
       {Line(kBannerLine), Line("")},
       {"<6>" + kBannerLine + "\n", "<6>\n"}},
      {"every line of an error message is an error line",
       {Line("12:00:00.000Error: Socket Error # 10061\r\nConnection refused. (EIdConnectException)",
             LineLevel::kError)},
       {"<3>12:00:00.000Error: Socket Error # 10061\n",
        "<3>Connection refused. (EIdConnectException)\n"}},
      {"notice",
       {Line("12:00:00.000 Disconnected", LineLevel::kNotice)},
       {"<5>12:00:00.000 Disconnected\n"}},
      {"echoed lines at the echo's level, CR LF made LF",
       {Echo("<a>\r\n<b>x</b>\n")},
       {"<7><a>\n", "<7><b>x</b>\n"}},
      {"a server line that looks like a level is text after ours",
       {Echo("<0>all terminals\r\n<3>\r\n")},
       {"<7><0>all terminals\n", "<7><3>\n"}},
      {"the open line goes out before a wait, its rest after",
       {Echo("ab\r\ncd"), Wait(), Echo("e\r\nf"), Wait(), Wait()},
       {"<7>ab\n", "<7>cd", "e\n", "<7>f"}},
      {"a CR before a wait waits for what follows it",
       {Echo("ab\r"), Wait(), Echo("\ncd\r"), Wait(), Echo("x\r\n")},
       {"<7>ab", "\n", "<7>cd", "^Mx\n"}},
      {"control bytes visible, BEL and BS and a lone CR too; TAB stays",
       {Echo("\x1b]0;t\x07\x1b[2J\x0e\x0f\b\tx\ry\x7f\r\n")},
       {"<7>^[]0;t^G^[[2J^N^O^H\tx^My^?\n"}},
      {"the report's empty line ends the echo's line",
       {Echo("<StatusChange/></StatusChange>"), Line(""), Line("12:00:00.000")},
       {"<7><StatusChange/></StatusChange>\n", "<6>12:00:00.000\n"}},
      {"a line of text after an open echo starts a line of its own",
       {Echo("<Event>Pro"),
        Line("12:00:00.000Error: Connection Closed Gracefully. (EIdConnClosedGracefully)",
             LineLevel::kError)},
       {"<7><Event>Pro\n",
        "<3>12:00:00.000Error: Connection Closed Gracefully. (EIdConnClosedGracefully)\n"}},
      {"a value with a line break continues at the report's level",
       {Line("STATE: up\r\nsince 09:00")},
       {"<6>STATE: up\n", "<6>since 09:00\n"}},
      {"a line longer than a file's block still goes in one write",
       {Echo(std::string(200, 'x') + "\r\n")},
       {"<7>" + std::string(200, 'x') + "\n"}},
      {"a line longer than the bound goes on in a line of its own, at the same level",
       {Echo(std::string(5000, 'x') + "\r\n")},
       {"<7>" + std::string(4092, 'x') + "\n", "<7>" + std::string(908, 'x') + "\n"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeConsoleSink sink(/*character_device=*/false, StreamReader::kJournal);
    TextOutput out(sink);
    RunStatements(out, c.statements);
    EXPECT_EQ(c.writes, sink.writes);
  }
}

// The same statements on a file or a terminal: the journal's rules change
// nothing there.
TEST(TextOutputTest, LevelsAndWaitPointsChangeNothingElsewhere) {
  const std::vector<Statement> statements = {Line(kBannerLine), Echo("<0>ab\r\ncd"), Wait(),
                                             Line("12:00:00.000Error: x\r\ny", LineLevel::kError),
                                             Echo("e")};
  const std::string exact = kBannerLine + "\r\n<0>ab\r\ncd12:00:00.000Error: x\r\ny\r\ne";
  FakeConsoleSink file(false);
  TextOutput to_file(file);
  RunStatements(to_file, statements);
  EXPECT_TRUE(file.writes.empty()) << "a wait writes out nothing of a file's block";
  to_file.Flush();
  EXPECT_EQ(exact, file.Written());
  FakeConsoleSink terminal(true, StreamReader::kTerminal);
  TextOutput on_terminal(terminal);
  RunStatements(on_terminal, statements);
  EXPECT_EQ(exact, terminal.Written());
}

// After a failed write the journal may have lost a line's start with its
// prefix: the next byte starts a line with a prefix of its own, so no line
// goes without our level.
TEST(TextOutputTest, JournalLineAfterAFailedWriteHasItsOwnLevel) {
  FakeConsoleSink sink(false, StreamReader::kJournal);
  sink.fail_write = [](std::string_view block) { return block == "<7>ab" ? 32 : 0; };
  TextOutput out(sink);
  RunStatements(out, {Echo("ab")});
  EXPECT_THROW(out.WriteOutOpenLine(), EInOutError);
  RunStatements(out, {Echo("<0>cd\r\n")});
  EXPECT_EQ((std::vector<std::string>{"<7><0>cd\n"}), sink.writes);
}

}  // namespace

namespace {

// A line written in parts must be the line written whole, on every stream,
// wherever the buffer's blocks end and whatever the echo left open.
TEST(TextOutputTest, LineInPartsIsTheLineJoined) {
  struct Stream {
    bool character_device;
    StreamReader reader;
  };
  struct Parts {
    const char* what;
    std::vector<std::string> parts;
  };
  const Parts cases[] = {
      {"label and value", {"EVENT: ", "Heartbeat"}},
      {"empty parts", {"", "", ""}},
      {"an empty part between", {"SYSLOG.ID: ", "", "7"}},
      {"control bytes and a line break", {"STATE: ", "a\x1b[2J\r\nb", "\x07"}},
      {"across a block's end", {std::string(100, 'x'), std::string(60, 'y'), "z"}},
      {"filling a block exactly", {std::string(120, 'x'), "abcdef"}},
  };
  for (Stream stream :
       {Stream{false, StreamReader::kPlain}, Stream{true, StreamReader::kPlain},
        Stream{true, StreamReader::kTerminal}, Stream{false, StreamReader::kJournal}}) {
    for (const Parts& c : cases) {
      for (const char* echo : {"", "<Event>open"}) {
        SCOPED_TRACE(testing::Message() << c.what << ", reader " << static_cast<int>(stream.reader)
                                        << ", character device " << stream.character_device
                                        << ", echo \"" << echo << "\"");
        auto run = [&](bool in_parts) {
          FakeConsoleSink sink(stream.character_device, stream.reader);
          TextOutput out(sink);
          out.Write(echo, LineLevel::kDebug);
          if (in_parts) {
            std::vector<std::string_view> views(c.parts.begin(), c.parts.end());
            switch (views.size()) {
              case 2:
                out.WriteLineOf({views[0], views[1]}, LineLevel::kNotice);
                break;
              case 3:
                out.WriteLineOf({views[0], views[1], views[2]}, LineLevel::kNotice);
                break;
              default:
                ADD_FAILURE() << "no case for " << views.size() << " parts";
            }
          } else {
            std::string joined;
            for (const std::string& part : c.parts) joined += part;
            out.WriteLine(joined, LineLevel::kNotice);
          }
          std::vector<std::string> writes = sink.writes;
          out.Flush();
          writes.push_back("(flushed) " + sink.Written());
          return writes;
        };
        EXPECT_EQ(run(false), run(true));
      }
    }
  }
}

}  // namespace
