// The monitor's log end to end: the real executable, pointed by its argument
// at a scripted status server on localhost and a port of its own. Its
// standard output goes to a raw pseudo-terminal (every statement written out
// at once) or to a file (written in 128-byte blocks); the log is compared
// byte for byte, CR LF included, with only the time stamps masked.
//
// The cases whose whole log the fault matrix states (a refused port, a peer
// that closes or resets mid-record, records back to back) run there, with
// their timing checks; this file keeps the cases only it has, and the log in
// a file.

#include <signal.h>

#include <gtest/gtest.h>

#include <functional>

#include "tests/e2e/child_process.h"
#include "tests/e2e/log_helpers.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Records beside the shared record A, with their reports. One field per
// line, an empty FileName, no Host, blanks around the State.
const std::string kRecordB =
    "<StatusChange>\r\n<LogRec.SyslogID>1043</LogRec.SyslogID>\r\n<Event>ConfigChanged</Event>\r\n"
    "<DateTime>2026-12-10T05:31:08Z</DateTime>\r\n<Version>3.4.2</Version>\r\n"
    "<FileName></FileName>\r\n<Member.ID>node-03</Member.ID>\r\n<Temp>39.0</Temp>\r\n"
    "<State> running </State>\r\n</StatusChange>";
const std::string kReportB = "\r\n" + S +
                             "\r\n"
                             "SYSLOG.ID: 1043\r\n"
                             "EVENT: ConfigChanged\r\n"
                             "DATETIME: 2026-12-10T05:31:08Z\r\n"
                             "VERSION: 3.4.2\r\n"
                             "MEMBER.ID: node-03\r\n"
                             "TEMP: 39.0\r\n"
                             "STATE:  running \r\n";

const std::string kRecordWithNuls = Nuls(
    "<StatusChange>|<LogRec.SyslogID>10|44</LogRec.SyslogID><Event>Heart||beat</Event>"
    "<DateTime>2026-12-10T05:31:09Z</DateTime><Version>3.4.1</Version>"
    "<State>running</State></Status||Change>");
const std::string kEchoWithoutNuls =
    "<StatusChange><LogRec.SyslogID>1044</LogRec.SyslogID><Event>Heartbeat</Event>"
    "<DateTime>2026-12-10T05:31:09Z</DateTime><Version>3.4.1</Version>"
    "<State>running</State></StatusChange>";
const std::string kReportWithoutNuls = "\r\n" + S +
                                       "\r\n"
                                       "SYSLOG.ID: 1044\r\n"
                                       "EVENT: Heartbeat\r\n"
                                       "DATETIME: 2026-12-10T05:31:09Z\r\n"
                                       "VERSION: 3.4.1\r\n"
                                       "STATE: running\r\n";

struct Scenario {
  const char* name;
  std::vector<Script> scripts;
  std::string log;  // the whole expected log, stamps masked
  // Timing checks on a terminal run, given the masked log.
  std::function<void(const ChildProcess&, const std::string&)> check_timing;
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

const Scenario kScenarios[] = {
    {
        "OneRecordPerConnection",
        {
            {Expect(kGet), Send(kRecordA), Expect(kGet), Close()},
            {Expect(kGet), Send(kRecordB), Expect(kGet), Close()},
        },
        kBanner + kConnected + kRequest + kRecordA + kReportA + kRequest + kClosedByPeer +
            kDisconnected + kConnected + kRequest + kRecordB + kReportB + kRequest + kClosedByPeer +
            kDisconnected + kRefused,
        [](const ChildProcess& monitor, const std::string& log) {
          for (int i = 0; i < 2; ++i) {
            // The read error line is stamped after a 1000 ms pause; the
            // notice and the next connect follow at once.
            const size_t error = Find(log, kClosedByPeer, i);
            const size_t notice = error + kClosedByPeer.size();
            const size_t next = notice + kDisconnected.size();
            auto pause = StampGap(monitor, error - kRequest.size(), error);
            EXPECT_GE(pause, 990ms);
            EXPECT_LT(pause, 1800ms);
            EXPECT_LT(StampGap(monitor, error, notice), 300ms);
            EXPECT_LT(StampGap(monitor, notice, next), 500ms);
            // ... and the line is written out when it is stamped, not before.
            EXPECT_GE(Between(monitor, error - kRequest.size(), error), 800ms);
          }
        },
    },
    {
        "RecordSplitOverManyWrites",
        {{Expect(kGet), SendInPieces(kRecordB, 8, 15ms), Expect(kGet), Close()}},
        kBanner + kConnected + kRequest + kRecordB + kReportB + kRequest + kClosedByPeer +
            kDisconnected + kRefused,
        [](const ChildProcess& monitor, const std::string& log) {
          // On a terminal the echo shows the pieces as they come; the report
          // follows the last one.
          const size_t echo = Find(log, kRecordB), report = echo + kRecordB.size() + 2;
          const auto pieces = static_cast<int>((kRecordB.size() + 7) / 8);
          EXPECT_GE(StampGap(monitor, echo - kRequest.size(), report), (pieces - 1) * 15ms - 10ms);
          EXPECT_GE(Between(monitor, echo, report), (pieces - 1) * 15ms / 2);
          EXPECT_GE(monitor.ReadsBetween(echo, report), pieces / 4);
        },
    },
    {
        "BytesAfterTheTerminatorComeFirstInTheNextPass",
        {{Expect(kGet), Send(kRecordA + kRecordB.substr(0, 50)), Expect(kGet),
          Send(kRecordB.substr(50)), Expect(kGet), Close()}},
        kBanner + kConnected + kRequest + kRecordA + kReportA + kRequest + kRecordB + kReportB +
            kRequest + kClosedByPeer + kDisconnected + kRefused,
        nullptr,
    },
    {
        "NulBytesAreNeitherEchoedNorCollected",
        {{Expect(kGet), Send(kRecordWithNuls), Expect(kGet), Close()}},
        kBanner + kConnected + kRequest + kEchoWithoutNuls + kReportWithoutNuls + kRequest +
            kClosedByPeer + kDisconnected + kRefused,
        nullptr,
    },
};

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

// The monitor's standard output on a terminal: every statement is written out
// at once, so the log is complete up to the last line and the bytes arrive
// as the monitor writes them.
class ConsoleLogTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ConsoleLogTest, LogIsExact) {
  const Scenario& scenario = GetParam();
  ScriptedServer server(scenario.scripts);
  ChildProcess monitor({MONITOR_PATH, ServerArgument(server)}, StdoutTo::kTerminal);
  // Every scenario ends in a failed connect, after which the monitor pauses
  // for 2000 ms: there is time to stop it before it writes more.
  monitor.WaitFor([&](const std::string& out) { return out.size() >= scenario.log.size(); }, 30s);
  monitor.Stop(SIGINT);

  const std::string log = MaskTimeStamps(monitor.Output());
  EXPECT_EQ(Visible(log), Visible(scenario.log));
  EXPECT_EQ(monitor.TermSignal(), SIGINT) << "an interrupt ends the monitor at once";
  EXPECT_EQ(monitor.ErrorOutput(), "");
  EXPECT_TRUE(server.WaitUntilDone(1s));
  EXPECT_EQ(Problems(server), "");
  if (log == scenario.log && scenario.check_timing) scenario.check_timing(monitor, log);
}

INSTANTIATE_TEST_SUITE_P(MonitorLog, ConsoleLogTest, ::testing::ValuesIn(kScenarios), ScenarioName);

// The monitor's standard output in a file: the same bytes as on a terminal,
// but written only in whole 128-byte blocks; what is still in the buffer
// when the process is killed never reaches the file.
class FileLogTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(FileLogTest, LogIsWrittenInWholeBlocks) {
  const Scenario& scenario = GetParam();
  ScriptedServer server(scenario.scripts);
  ChildProcess monitor({MONITOR_PATH, ServerArgument(server)}, StdoutTo::kFile);
  const size_t blocks = scenario.log.size() / 128 * 128;
  monitor.WaitFor([&](const std::string& out) { return out.size() >= blocks; }, 30s);
  monitor.Stop(SIGKILL);

  const std::string& file = monitor.Output();
  EXPECT_EQ(file.size(), blocks);
  for (size_t size : monitor.FileSizesSeen()) EXPECT_EQ(size % 128, 0u) << size;
  // Whatever the monitor wrote after the scenario's log, it is more failed
  // connects.
  EXPECT_EQ(PrefixMismatch(scenario.log + Times(10, kRefused), file), "");
  EXPECT_EQ(monitor.ErrorOutput(), "");
  EXPECT_EQ(Problems(server), "");
}

INSTANTIATE_TEST_SUITE_P(MonitorLog, FileLogTest, ::testing::Values(kScenarios[0], kScenarios[1]),
                         ScenarioName);

}  // namespace
}  // namespace e2e
