// What each reader of the log gets from the real executable, against a
// scripted status server whose record holds the control sequences a hostile
// server would send: a terminal sees them in caret notation and acts on
// none; a file gets every byte exactly, in 128-byte blocks; the journal's
// stream gets whole lines with their levels, one write each, as soon as each
// line is complete.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "monitor/version.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/log_helpers.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

// A window title (OSC 0), a clear screen with the cursor sent home (CSI)
// before a fake log line, a clipboard write (OSC 52), the line-drawing set
// switched on and off (SO / SI) and a device control string (DCS), in the
// echo and in the report's values. `fake_stamp` is the fake line's stamp:
// a real one in what the server sends, the mask in what a log shows.
std::string HostileRecord(const std::string& fake_stamp) {
  return "<StatusChange>\x1b]0;owned\x07<LogRec.SyslogID>66</LogRec.SyslogID>"
         "<Event>\x1b[2J\x1b[H" +
         fake_stamp +
         " Connected to localhost</Event>"
         "<DateTime>\x1b]52;c;cm0gLXJmIH4K\x07</DateTime>"
         "<Version>\x0e"
         "lqqk\x0f</Version><State>\x1bPq#0;2;0;0;0\x1b\\</State></StatusChange>";
}
const std::string kHostileRecord = HostileRecord("12:00:00.000");
const std::string kHostileReport = "\r\n" + S +
                                   "\r\n"
                                   "SYSLOG.ID: 66\r\n"
                                   "EVENT: \x1b[2J\x1b[H" +
                                   S +
                                   " Connected to localhost\r\n"
                                   "DATETIME: \x1b]52;c;cm0gLXJmIH4K\x07\r\n"
                                   "VERSION: \x0e"
                                   "lqqk\x0f\r\n"
                                   "STATE: \x1bPq#0;2;0;0;0\x1b\\\r\n";
// The same as a terminal shows them.
const std::string kHostileRecordShown =
    "<StatusChange>^[]0;owned\x07<LogRec.SyslogID>66</LogRec.SyslogID>"
    "<Event>^[[2J^[[H" +
    S +
    " Connected to localhost</Event>"
    "<DateTime>^[]52;c;cm0gLXJmIH4K\x07</DateTime>"
    "<Version>^Nlqqk^O</Version><State>^[Pq#0;2;0;0;0^[\\</State></StatusChange>";
const std::string kHostileReportShown = "\r\n" + S +
                                        "\r\n"
                                        "SYSLOG.ID: 66\r\n"
                                        "EVENT: ^[[2J^[[H" +
                                        S +
                                        " Connected to localhost\r\n"
                                        "DATETIME: ^[]52;c;cm0gLXJmIH4K\x07\r\n"
                                        "VERSION: ^Nlqqk^O\r\n"
                                        "STATE: ^[Pq#0;2;0;0;0^[\\\r\n";

std::vector<Script> HostileScripts() {
  return {{Expect(kGet), Send(kHostileRecord), Expect(kGet), Close()}};
}

std::string LogOf(const std::string& record, const std::string& report) {
  return kBanner + kConnected + kRequest + record + report + kRequest + kClosedByPeer +
         kDisconnected + kRefused;
}

// "device:inode" of a file that is not the monitor's output.
std::string ForeignJournalStream() {
  struct stat status {};
  stat("/", &status);
  return "JOURNAL_STREAM=" + std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

TEST(LogReadersTest, TerminalShowsControlBytesAndActsOnNone) {
  ScriptedServer server(HostileScripts());
  ChildProcess monitor({MONITOR_PATH, ServerArgument(server)}, StdoutTo::kTerminal);
  const std::string expected = LogOf(kHostileRecordShown, kHostileReportShown);
  monitor.WaitFor([&](const std::string& out) { return out.size() >= expected.size(); }, 30s);
  monitor.Stop(SIGINT);

  EXPECT_EQ(Visible(MaskTimeStamps(monitor.Output())), Visible(expected));
  for (unsigned char byte : monitor.Output()) {
    const bool harmless =
        byte >= 0x20 ? byte != 0x7f : byte == '\a' || byte == '\r' || byte == '\n';
    EXPECT_TRUE(harmless) << "raw control byte " << static_cast<int>(byte);
  }
  EXPECT_EQ(Problems(server), "");
}

// Files keep every byte, also when JOURNAL_STREAM names another file (a
// child of a service whose output was redirected).
TEST(LogReadersTest, FileKeepsEveryByteExactly) {
  for (const std::vector<std::string>& environment :
       {std::vector<std::string>{"LC_ALL=C"},
        std::vector<std::string>{"LC_ALL=C", ForeignJournalStream()}}) {
    SCOPED_TRACE(environment.back());
    ScriptedServer server(HostileScripts());
    ChildProcess monitor({MONITOR_PATH, ServerArgument(server)}, StdoutTo::kFile, environment);
    const std::string expected = LogOf(HostileRecord(S), kHostileReport);
    const size_t blocks = expected.size() / 128 * 128;
    monitor.WaitFor([&](const std::string& out) { return out.size() >= blocks; }, 30s);
    monitor.Stop(SIGKILL);

    EXPECT_EQ(monitor.Output().size(), blocks);
    for (size_t size : monitor.FileSizesSeen()) EXPECT_EQ(size % 128, 0u) << size;
    EXPECT_EQ(PrefixMismatch(expected + Times(10, kRefused), monitor.Output()), "");
    EXPECT_EQ(Problems(server), "");
  }
}

// The journal: each write, stamps masked. A record comes in two parts with a
// pause inside a line: the start of that line is written before the monitor
// waits for the rest. A server line that begins like a level prefix stays
// text after the echo's own.
TEST(LogReadersTest, JournalGetsWholeLinesWithTheirLevelsAtOnce) {
  const std::string first =
      "<StatusChange>\r\n<0>\x1b]0;owned\x07<LogRec.SyslogID>77</LogRec.SyslogID>\r\n"
      "<Event>Config";
  const std::string second = "Changed</Event>\r\n<State>\x0eup\x0f</State>\r\n</StatusChange>";
  constexpr auto kPauseInsideALine = 800ms;
  ScriptedServer server(
      {{Expect(kGet), Send(first), Pause(kPauseInsideALine), Send(second), Expect(kGet), Close()}});
  ChildProcess monitor({MONITOR_PATH, ServerArgument(server)}, StdoutTo::kJournal);
  const std::vector<std::string> expected = {
      std::string("<6>Version: ") + kProgramVersion + "\n",
      "<6>\n",
      "<6>" + S + " Connected to localhost\n",
      "<6>" + S + " GET /\n",
      "<7><StatusChange>\n",
      "<7><0>^[]0;owned^G<LogRec.SyslogID>77</LogRec.SyslogID>\n",
      "<7><Event>Config",  // written out before the monitor waits
      "Changed</Event>\n",
      "<7><State>^Nup^O</State>\n",
      "<7></StatusChange>\n",  // ended by the report's first line
      "<6>" + S + "\n",
      "<6>SYSLOG.ID: 77\n",
      "<6>EVENT: ConfigChanged\n",
      "<6>DATETIME: \n",
      "<6>VERSION: \n",
      "<6>STATE: ^Nup^O\n",
      "<6>" + S + " GET /\n",
      "<3>" + S + "Error: Connection Closed Gracefully. (EIdConnClosedGracefully)\n",
      "<5>" + S + " Disconnected\n",
      "<3>" + S + "Error: Socket Error # 10061\n",
      "<3>Connection refused. (EIdConnectException)\n",
  };
  monitor.WaitFor([&](const std::string&) { return monitor.Writes().size() >= expected.size(); },
                  30s);
  // The monitor now pauses 2 s after the failed connect, with nothing left
  // unwritten.
  monitor.Stop(SIGINT);

  std::vector<std::string> writes;
  for (const ChildProcess::Write& write : monitor.Writes()) {
    writes.push_back(MaskTimeStamps(write.bytes));
  }
  ASSERT_GE(writes.size(), expected.size());
  writes.resize(expected.size());
  EXPECT_EQ(writes, expected);
  EXPECT_EQ(Problems(server), "");
  if (writes != expected) return;

  // The open line went out when the monitor had read what had come, not when
  // the rest of the line came.
  const auto& arrived = monitor.Writes();
  const auto waited = arrived[7].arrival - arrived[6].arrival;
  EXPECT_GE(waited, kPauseInsideALine - 300ms);
  // The report follows the record's last byte at once.
  EXPECT_LT(arrived[15].arrival - arrived[9].arrival, 500ms);
}

// A server line and a report value far longer than the journal's line
// bound, with level prefixes of the server's just where the monitor cuts
// them, sent in pieces so that the open line goes out before each wait: no
// line the journal gets is longer than the bound, every piece carries the
// level of the line it belongs to, and the pieces joined are the line.
TEST(LogReadersTest, JournalGetsLongLinesInPiecesWithinTheBound) {
  constexpr size_t kBound = 4096;           // TextOutput::kJournalLineMax
  constexpr size_t kMostText = kBound - 4;  // less "<N>" and LF
  const std::string value =
      std::string(kMostText - 7, 'T') + "<3>INJECTED" + std::string(9000, 'T');  // after "STATE: "
  const std::string record = "<StatusChange>" + std::string(kMostText - 14, 'A') + "<0>INJECTED" +
                             std::string(10000, 'B') +
                             "<LogRec.SyslogID>88</LogRec.SyslogID><State>" + value +
                             "</State></StatusChange>";
  ScriptedServer server({{Expect(kGet), SendInPieces(record, 1500, 5ms), Expect(kGet), Close()}});
  ChildProcess monitor({MONITOR_PATH, ServerArgument(server)}, StdoutTo::kJournal);
  std::string written;
  monitor.WaitFor(
      [&](const std::string&) {
        written.clear();
        for (const ChildProcess::Write& write : monitor.Writes()) written += write.bytes;
        return written.find(" Disconnected\n") != std::string::npos;
      },
      30s);
  monitor.Stop(SIGINT);

  struct Line {
    std::string level, text;
  };
  std::vector<Line> lines;
  for (size_t start = 0; start < written.size();) {
    const size_t end = written.find('\n', start);
    ASSERT_NE(std::string::npos, end) << "an unfinished line";
    EXPECT_LE(end + 1 - start, kBound) << written.substr(start, 40);
    lines.push_back({written.substr(start, 3), written.substr(start + 3, end - start - 3)});
    start = end + 1;
  }
  std::string echo, state;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].level == "<7>") echo += lines[i].text;
    if (lines[i].text.rfind("STATE: ", 0) == 0) {
      // The value's pieces: full ones, then the one that ends it.
      for (size_t j = i; j < lines.size() && lines[j].level == "<6>"; ++j) {
        state += lines[j].text;
        if (lines[j].text.size() < kMostText) break;
      }
    }
    if (lines[i].text.find("INJECTED") != std::string::npos) {
      EXPECT_TRUE(lines[i].level == "<7>" || lines[i].level == "<6>") << lines[i].level;
    }
  }
  EXPECT_EQ(record, echo);
  EXPECT_EQ("STATE: " + value, state);
  EXPECT_EQ(Problems(server), "");
}

}  // namespace
}  // namespace e2e
