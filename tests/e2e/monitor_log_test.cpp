// The monitor's log end to end: the real executable, built for localhost and
// a fixed test port, against a scripted status server on that port. Its
// standard output goes to a raw pseudo-terminal (every statement written out
// at once) or to a file (written in 128-byte blocks); the log is compared
// byte for byte, CR LF included, with only the time stamps masked.

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "tests/e2e/child_process.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

// Records and their reports. The report's first line end closes the line of
// the echo, which ends with the terminator.
const std::string kRecordA =
    "<StatusChange><LogRec.SyslogID>1042</LogRec.SyslogID><Event>ProcessStopped</Event>"
    "<DateTime>2026-12-10T05:31:07Z</DateTime><Version>3.4.1</Version>"
    "<FileName>/var/log/app.log</FileName><Member.ID>node-07</Member.ID><Host>db-02</Host>"
    "<Temp>41.5</Temp><State>stopped</State></StatusChange>";
const std::string kReportA = "\r\n" + S +
                             "\r\n"
                             "SYSLOG.ID: 1042\r\n"
                             "EVENT: ProcessStopped\r\n"
                             "DATETIME: 2026-12-10T05:31:07Z\r\n"
                             "VERSION: 3.4.1\r\n"
                             "FILENAME: /var/log/app.log\r\n"
                             "MEMBER.ID: node-07\r\n"
                             "HOST: db-02\r\n"
                             "TEMP: 41.5\r\n"
                             "STATE: stopped\r\n";

// One field per line, an empty FileName, no Host, blanks around the State.
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

// '|' stands for a NUL byte.
std::string Nuls(std::string text) {
  std::replace(text.begin(), text.end(), '|', '\0');
  return text;
}
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

const std::string kPartOfA = kRecordA.substr(0, 70);

std::string Times(int count, const std::string& text) {
  std::string result;
  while (count-- > 0) result += text;
  return result;
}

// Where the `nth` (from 0) `piece` starts in the masked log; npos if absent.
size_t Find(const std::string& masked, const std::string& piece, int nth = 0) {
  size_t at = masked.find(piece);
  while (nth-- > 0 && at != std::string::npos) at = masked.find(piece, at + 1);
  return at;
}

// Time between the arrival of the bytes at two offsets of the log: when the
// monitor wrote them out, give or take the test's own reading delay.
milliseconds Between(const ChildProcess& monitor, size_t from, size_t to) {
  return std::chrono::duration_cast<milliseconds>(monitor.ArrivalOf(to) - monitor.ArrivalOf(from));
}

// Time between the stamps at two offsets of the log: when the monitor took
// them, exact to the millisecond, whatever the load on the test machine.
milliseconds StampGap(const ChildProcess& monitor, size_t from, size_t to) {
  const int first = StampMilliseconds(monitor.Output(), from);
  const int second = StampMilliseconds(monitor.Output(), to);
  if (first < 0 || second < 0) {
    ADD_FAILURE() << "no time stamp at " << from << " or " << to;
    return milliseconds(0);
  }
  return milliseconds((second - first + 86400000) % 86400000);  // across midnight too
}

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
        "NoServer",
        {},
        kBanner + Times(3, kRefused),
        [](const ChildProcess& monitor, const std::string& log) {
          // The refused connect fails at once; then a 2000 ms pause each.
          EXPECT_LT(monitor.ArrivalOf(Find(log, kRefused)) - monitor.StartTime(), 1500ms);
          for (int i = 1; i < 3; ++i) {
            auto gap = StampGap(monitor, Find(log, kRefused, i - 1), Find(log, kRefused, i));
            EXPECT_GE(gap, 1990ms) << "between connect error lines " << i << " and " << i + 1;
            EXPECT_LT(gap, 3000ms) << "between connect error lines " << i << " and " << i + 1;
          }
        },
    },
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
        "TwoRecordsInOneWrite",
        {{Expect(kGet), Send(kRecordA + kRecordB), Expect(kGet), Expect(kGet), Close()}},
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
    {
        "PeerClosesBeforeTheRecordIsComplete",
        {{Expect(kGet), Send(kPartOfA), Pause(200ms), Close()}},
        // One notice for the lost connection, none for the failed connects.
        kBanner + kConnected + kRequest + kPartOfA + kClosedByPeer + kDisconnected +
            Times(2, kRefused),
        [](const ChildProcess& monitor, const std::string& log) {
          // The close came 200 ms after the bytes; then the 1000 ms pause.
          const size_t request = Find(log, kRequest), error = Find(log, kClosedByPeer);
          EXPECT_GE(StampGap(monitor, request, error), 1150ms);
          EXPECT_LT(StampGap(monitor, request, error), 2000ms);
          EXPECT_GE(Between(monitor, error - 1, error), 800ms);
        },
    },
    {
        "PeerResetsBeforeTheRecordIsComplete",
        {{Expect(kGet), Send(kPartOfA), Pause(200ms), Reset()}},
        kBanner + kConnected + kRequest + kPartOfA + kResetByPeer + kDisconnected + kRefused,
        [](const ChildProcess& monitor, const std::string& log) {
          const size_t request = Find(log, kRequest), error = Find(log, kResetByPeer);
          EXPECT_GE(StampGap(monitor, request, error), 1150ms);
          EXPECT_LT(StampGap(monitor, request, error), 2000ms);
          EXPECT_GE(Between(monitor, error - 1, error), 800ms);
        },
    },
};

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

std::string Problems(const ScriptedServer& server) {
  std::string text;
  for (const std::string& problem : server.Problems()) text += problem + "\n";
  return text;
}

// The monitor's standard output on a terminal: every statement is written out
// at once, so the log is complete up to the last line and the bytes arrive
// as the monitor writes them.
class ConsoleLogTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ConsoleLogTest, LogIsExact) {
  const Scenario& scenario = GetParam();
  ScriptedServer server(MONITOR_E2E_PORT, scenario.scripts);
  ChildProcess monitor({MONITOR_E2E_PATH}, StdoutTo::kTerminal);
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
  ScriptedServer server(MONITOR_E2E_PORT, scenario.scripts);
  ChildProcess monitor({MONITOR_E2E_PATH}, StdoutTo::kFile);
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

INSTANTIATE_TEST_SUITE_P(MonitorLog, FileLogTest,
                         ::testing::Values(kScenarios[0], kScenarios[1], kScenarios[2]),
                         ScenarioName);

}  // namespace
}  // namespace e2e
