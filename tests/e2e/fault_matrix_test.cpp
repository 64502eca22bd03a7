// The fault matrix: the real executable against a peer that misbehaves in
// one way per row (or against no peer, a dead name, a stalled listener, or a
// standard output that can't be written). Each row states the whole log the
// monitor must write, stamps masked, and whether the process must still be
// running afterwards or must have ended with a failure report and exit
// code 1. A standard output that is closed from the start is the one
// stdout failure left out here: tests/process_exit/process_exit_test.cpp
// covers it.

#include <netdb.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <regex>

#include "tests/e2e/child_process.h"
#include "tests/e2e/log_helpers.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"
#include "transport/testing/loopback_peer.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

constexpr size_t kLimit = FAULT_RECEIVED_TEXT_LIMIT;

const std::string kTimedOut = S + "Error: Connect timed out. (EIdConnectTimeout)\r\n";
// A request that the peer's reset refused: the pass handler's line, no stamp.
const std::string kRequestReset =
    "Error: Socket Error # 10054\r\nConnection reset by peer. (EIdSocketError) "
    "LogRec.Trace=220\r\n";
const std::string kOutOfMemory = S + "Error: Out of memory (EOutOfMemory)\r\n";

// What standard error holds after a failed write to standard output escaped.
std::string WriteFailureReport(int error_number) {
  return "Exception EInOutError in module " FAULT_MONITOR_NAME
         " at [0-9A-F]{8}\\.\r\n"
         "I/O error " +
         std::to_string(error_number) + "\\.\r\n\r\n";
}

// Records beside the shared record A, with their reports.
const std::string kRecordB =
    "<StatusChange><LogRec.SyslogID>2002</LogRec.SyslogID><Event>Recovered</Event>"
    "<DateTime>2027-01-04T11:02:40Z</DateTime><Version>5.0.1</Version>"
    "<State>ok</State></StatusChange>";
const std::string kReportB = "\r\n" + S +
                             "\r\n"
                             "SYSLOG.ID: 2002\r\n"
                             "EVENT: Recovered\r\n"
                             "DATETIME: 2027-01-04T11:02:40Z\r\n"
                             "VERSION: 5.0.1\r\n"
                             "STATE: ok\r\n";

// Short, for the rows that send slowly.
const std::string kRecordTick = "<Event>Tick</Event></StatusChange>";
const std::string kReportTick = "\r\n" + S +
                                "\r\n"
                                "SYSLOG.ID: \r\n"
                                "EVENT: Tick\r\n"
                                "DATETIME: \r\n"
                                "VERSION: \r\n";

// Long, so that echoing it takes the monitor far longer than a reset sent
// right after it takes to arrive.
const std::string kLongName = "/srv/" + std::string(20000, 'n') + ".log";
const std::string kRecordLong =
    "<StatusChange><LogRec.SyslogID>2003</LogRec.SyslogID><Event>Rotated</Event>"
    "<DateTime>2027-01-04T11:03:00Z</DateTime><Version>5.0.2</Version>"
    "<FileName>" +
    kLongName + "</FileName></StatusChange>";
const std::string kReportLong = "\r\n" + S +
                                "\r\n"
                                "SYSLOG.ID: 2003\r\n"
                                "EVENT: Rotated\r\n"
                                "DATETIME: 2027-01-04T11:03:00Z\r\n"
                                "VERSION: 5.0.2\r\n"
                                "FILENAME: " +
                                kLongName + "\r\n";

// NUL bytes between every pair of the terminator's characters and around it,
// and two more after it, which stay unread until the next pass and are then
// neither echoed nor collected.
const std::string kTerminatorWithNuls = Nuls("|<|/|S|t|a|t|u|s|C|h|a|n|g|e|>");
const std::string kRecordNulTerminator =
    "<StatusChange><LogRec.SyslogID>2004</LogRec.SyslogID><Event>Nul</Event>" +
    kTerminatorWithNuls + Nuls("||");
const std::string kEchoNulTerminator =
    "<StatusChange><LogRec.SyslogID>2004</LogRec.SyslogID><Event>Nul</Event></StatusChange>";
const std::string kReportNulTerminator = "\r\n" + S +
                                         "\r\n"
                                         "SYSLOG.ID: 2004\r\n"
                                         "EVENT: Nul\r\n"
                                         "DATETIME: \r\n"
                                         "VERSION: \r\n";

// Values with line breaks are printed as they stand and split their lines.
const std::string kRecordLineBreaks =
    "<StatusChange><LogRec.SyslogID>20\r\n05</LogRec.SyslogID><Event>Multi\r\nLine</Event>"
    "<DateTime>\r\n</DateTime><Version>5.0.3</Version><State>a\rb\nc\r\n</State></StatusChange>";
const std::string kReportLineBreaks = "\r\n" + S +
                                      "\r\n"
                                      "SYSLOG.ID: 20\r\n05\r\n"
                                      "EVENT: Multi\r\nLine\r\n"
                                      "DATETIME: \r\n\r\n"
                                      "VERSION: 5.0.3\r\n"
                                      "STATE: a\rb\nc\r\n\r\n";

const std::string kPartOfA = kRecordA.substr(0, 90);

// One more byte than the monitor collects: it is echoed, then can't be kept.
const std::string kNoTerminator = [] {
  std::string text;
  for (size_t i = 0; text.size() <= kLimit; ++i) text += "sample " + std::to_string(i) + "\r\n";
  return text.substr(0, kLimit + 1);
}();

// 10 MB of random bytes from a fixed seed, without the terminator.
const std::string kRandom = [] {
  std::mt19937 generator(20270104);
  std::uniform_int_distribution<int> byte(0, 255);
  std::string text(10 * 1024 * 1024, '\0');
  for (char& c : text) c = static_cast<char>(byte(generator));
  for (size_t at; (at = text.find("</StatusChange>")) != std::string::npos;) text[at] = 'x';
  return text;
}();
const std::string kRandomEcho = [] {
  std::string echo = kRandom;
  echo.erase(std::remove(echo.begin(), echo.end(), '\0'), echo.end());
  return echo;
}();

// What the monitor holds while it pauses after a failed connect: it must be
// back to its main thread alone, with no socket left open.
#ifndef SANITIZER_RUNTIME_THREADS
#define SANITIZER_RUNTIME_THREADS 0
#endif
// Threads that a sanitizer's runtime may keep in the monitor beside its own
// (ThreadSanitizer starts one with the program's first thread, so a monitor
// that never connected has none).
constexpr int kSanitizerRuntimeThreads = SANITIZER_RUNTIME_THREADS;
struct Holdings {
  int threads = -1;
  int sockets = -1;
};

Holdings HoldingsOf(pid_t pid) {
  Holdings holdings;
  const std::string proc = "/proc/" + std::to_string(pid);
  std::ifstream status(proc + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) holdings.threads = std::atoi(line.c_str() + 8);
  }
  std::error_code error;
  holdings.sockets = 0;
  for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd", error)) {
    const auto target = std::filesystem::read_symlink(entry.path(), error);
    if (!error && target.string().rfind("socket:", 0) == 0) ++holdings.sockets;
  }
  return holdings;
}

enum class Monitor { kLocal, kSmallLimit, kUnknownHost };

// The command line of a row's monitor, pointed at the row's peer on `port`.
std::vector<std::string> CommandOf(Monitor monitor, std::uint16_t port) {
  const std::string at = ":" + std::to_string(port);
  switch (monitor) {
    case Monitor::kLocal:
      break;
    case Monitor::kSmallLimit:
      return {FAULT_MONITOR_LIMIT_PATH, "localhost" + at};
    case Monitor::kUnknownHost:
      return {FAULT_MONITOR_PATH, FAULT_UNKNOWN_HOST + at};
  }
  return {FAULT_MONITOR_PATH, "localhost" + at};
}

struct Row {
  std::string name;
  Monitor monitor = Monitor::kLocal;
  // The scripted server's connections, in order; with none the port refuses.
  std::vector<Script> scripts = {};
  // Instead of the scripted server: a listener that never completes a connect.
  bool stalled_listener = false;
  StdoutTo stdout_to = StdoutTo::kTerminal;
  // Standard output, stamps masked: the whole of it on a terminal; in a file,
  // all of it that fills whole 128-byte blocks.
  std::string log = {};
  // Standard error, as a regular expression.
  std::string error_output = {};
  // Still running after the log; otherwise ended with exit code 1.
  bool still_running = true;
  milliseconds within = 30s;
  // Runs only where the long tests are asked for.
  bool long_running = false;
  // Checks beyond the bytes, given the masked log.
  std::function<void(const ChildProcess&, const std::string&)> check = {};
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

std::vector<Row> Matrix() {
  std::vector<Row> rows;
  rows.push_back({
      .name = "RefusedPort",
      .log = kBanner + Times(3, kRefused),
      .check =
          [](const ChildProcess& monitor, const std::string& log) {
            // The refused connect fails at once; then a 2000 ms pause each.
            EXPECT_LT(monitor.ArrivalOf(Find(log, kRefused)) - monitor.StartTime(), 1500ms);
            for (int i = 1; i < 3; ++i) {
              auto gap = StampGap(monitor, Find(log, kRefused, i - 1), Find(log, kRefused, i));
              EXPECT_GE(gap, 1990ms) << "between connect error lines " << i << " and " << i + 1;
              EXPECT_LT(gap, 3000ms) << "between connect error lines " << i << " and " << i + 1;
            }
          },
  });
  rows.push_back({
      .name = "UnknownHost",
      .monitor = Monitor::kUnknownHost,
      .log = kBanner + Times(2, kUnknownHost),
  });
  rows.push_back({
      .name = "ConnectNeverCompletes",
      .stalled_listener = true,
      .log = kBanner + kTimedOut,
      .within = 80s,
      .long_running = true,
      .check =
          [](const ChildProcess& monitor, const std::string& log) {
            auto waited = monitor.ArrivalOf(Find(log, kTimedOut)) - monitor.StartTime();
            EXPECT_GE(waited, 49900ms);
            EXPECT_LT(waited, 60000ms);
          },
  });
  // The close or reset comes 200 ms after the bytes; the error line is
  // stamped, and written out, after the 1000 ms pause that follows it.
  const auto mid_record_timing = [](const std::string& error_line) {
    return [error_line](const ChildProcess& monitor, const std::string& log) {
      const size_t request = Find(log, kRequest), error = Find(log, error_line);
      EXPECT_GE(StampGap(monitor, request, error), 1150ms);
      EXPECT_LT(StampGap(monitor, request, error), 2000ms);
      EXPECT_GE(Between(monitor, error - 1, error), 800ms);
    };
  };
  rows.push_back({
      .name = "PeerClosesMidRecord",
      .scripts = {{Expect(kGet), Send(kPartOfA), Pause(200ms), Close()}},
      // One notice for the lost connection, none for the failed connects.
      .log = kBanner + kConnected + kRequest + kPartOfA + kClosedByPeer + kDisconnected +
             Times(2, kRefused),
      .check = mid_record_timing(kClosedByPeer),
  });
  rows.push_back({
      .name = "PeerResetsMidRecord",
      .scripts = {{Expect(kGet), Send(kPartOfA), Pause(200ms), Reset()}},
      .log = kBanner + kConnected + kRequest + kPartOfA + kResetByPeer + kDisconnected + kRefused,
      .check = mid_record_timing(kResetByPeer),
  });
  rows.push_back({
      .name = "PeerClosesAfterRecordRepeatAccepted",
      .scripts = {{Expect(kGet), Send(kRecordA), Expect(kGet), Close()}},
      .log = kBanner + kConnected + kRequest + kRecordA + kReportA + kRequest + kClosedByPeer +
             kDisconnected + kRefused,
  });
  rows.push_back({
      .name = "PeerResetsAfterRecordRepeatRefused",
      // The reset follows the record at once; the monitor is still echoing
      // it when the reset arrives, so its repeated request fails.
      .scripts = {{Expect(kGet), Send(kRecordLong), Reset()}},
      .log = kBanner + kConnected + kRequest + kRecordLong + kReportLong + kRequestReset + kRefused,
      .check =
          [](const ChildProcess& monitor, const std::string& log) {
            // No pause, no notice: the next connect follows at once.
            const size_t report = Find(log, kReportLong) + 2;
            EXPECT_LT(StampGap(monitor, report, Find(log, kRefused)), 900ms);
          },
  });
  rows.push_back({
      .name = "RecordSplitOneBytePerWrite",
      .scripts = {{Expect(kGet), SendInPieces(kRecordA, 1, 2ms), Expect(kGet), Close()}},
      .log = kBanner + kConnected + kRequest + kRecordA + kReportA + kRequest + kClosedByPeer +
             kDisconnected + kRefused,
      .check =
          [](const ChildProcess& monitor, const std::string& log) {
            // Reported once, after the last byte, not before.
            const size_t request = Find(log, kRequest), report = Find(log, kReportA) + 2;
            EXPECT_GE(StampGap(monitor, request, report), (kRecordA.size() - 1) * 2ms - 20ms);
          },
  });
  rows.push_back({
      .name = "RecordsBackToBackInOneWrite",
      .scripts = {{Expect(kGet), Send(kRecordA + kRecordB + kRecordTick), Expect(kGet),
                   Expect(kGet), Expect(kGet), Close()}},
      .log = kBanner + kConnected + kRequest + kRecordA + kReportA + kRequest + kRecordB +
             kReportB + kRequest + kRecordTick + kReportTick + kRequest + kClosedByPeer +
             kDisconnected + kRefused,
  });
  rows.push_back({
      .name = "NulBytesInsideTheTerminator",
      .scripts = {{Expect(kGet), Send(kRecordNulTerminator), Expect(kGet), Close()}},
      .log = kBanner + kConnected + kRequest + kEchoNulTerminator + kReportNulTerminator +
             kRequest + kClosedByPeer + kDisconnected + kRefused,
  });
  rows.push_back({
      .name = "ValuesHoldingLineBreaks",
      .scripts = {{Expect(kGet), Send(kRecordLineBreaks), Expect(kGet), Close()}},
      .log = kBanner + kConnected + kRequest + kRecordLineBreaks + kReportLineBreaks + kRequest +
             kClosedByPeer + kDisconnected + kRefused,
  });
  rows.push_back({
      .name = "NoTerminatorUntilTheLimit",
      .monitor = Monitor::kSmallLimit,
      // The connection stays open: only the limit ends the pass.
      .scripts = {{Expect(kGet), Send(kNoTerminator)}},
      .log =
          kBanner + kConnected + kRequest + kNoTerminator + kOutOfMemory + kDisconnected + kRefused,
  });
  rows.push_back({
      .name = "TenMegabytesOfRandomBytes",
      .scripts = {{Expect(kGet), Send(kRandom), Close()}},
      .stdout_to = StdoutTo::kFile,
      .log =
          kBanner + kConnected + kRequest + kRandomEcho + kClosedByPeer + kDisconnected + kRefused,
      .within = 90s,
  });
  rows.push_back({
      .name = "StandardOutputOnDevFull",
      // A character device: the banner is written out at once and fails.
      .stdout_to = StdoutTo::kDevFull,
      .error_output = WriteFailureReport(28),
      .still_running = false,
  });
  rows.push_back({
      .name = "StandardOutputOnClosedPipe",
      // A pipe: lines wait in the 128-byte buffer, and the write that fails
      // is the second connect error line's. Its handler has no handler.
      .stdout_to = StdoutTo::kClosedPipe,
      .error_output = WriteFailureReport(32),
      .still_running = false,
  });
  rows.push_back({
      .name = "SlowDripOneBytePer100ms",
      .scripts = {{Expect(kGet), SendInPieces(kRecordTick, 1, 100ms), Expect(kGet), Close()}},
      .log = kBanner + kConnected + kRequest + kRecordTick + kReportTick + kRequest +
             kClosedByPeer + kDisconnected + kRefused,
      .check =
          [](const ChildProcess& monitor, const std::string& log) {
            // Every byte is echoed as it comes, the report after the last.
            const size_t echo = Find(log, kRecordTick), report = echo + kRecordTick.size() + 2;
            EXPECT_GE(StampGap(monitor, echo - kRequest.size(), report),
                      (kRecordTick.size() - 1) * 100ms - 20ms);
            EXPECT_GE(monitor.ReadsBetween(echo, echo + kRecordTick.size()),
                      static_cast<int>(kRecordTick.size() / 2));
          },
  });
  return rows;
}

std::vector<Row> Rows(bool long_running) {
  std::vector<Row> rows = Matrix();
  std::erase_if(rows, [&](const Row& row) { return row.long_running != long_running; });
  return rows;
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

// True when this machine's resolver answers that the name does not exist
// (rather than that it can't ask, as on a machine without a name server).
bool ResolverKnowsNoSuchHost() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  const int result = getaddrinfo(FAULT_UNKNOWN_HOST, nullptr, &hints, &found);
  if (found != nullptr) freeaddrinfo(found);
  return result == EAI_NONAME;
}

class FaultMatrixTest : public ::testing::TestWithParam<Row> {};

TEST_P(FaultMatrixTest, LogAndOutcome) {
  const Row& row = GetParam();
  if (row.monitor == Monitor::kUnknownHost && !ResolverKnowsNoSuchHost()) {
    GTEST_SKIP() << "this machine's resolver can't tell that " FAULT_UNKNOWN_HOST " does not exist";
  }
  std::optional<ScriptedServer> server;
  std::optional<testing_support::BlackholeListener> stalled;
  if (row.stalled_listener) {
    stalled.emplace();
  } else {
    server.emplace(row.scripts);
  }
  ChildProcess monitor(CommandOf(row.monitor, server ? server->Port() : stalled->port()),
                       row.stdout_to);
  const size_t wanted =
      row.stdout_to == StdoutTo::kFile ? row.log.size() / 128 * 128 : row.log.size();
  if (row.still_running) {
    // Every such row ends in a failed connect, after which the monitor
    // pauses for 2000 ms: there is time to look before it writes more.
    EXPECT_TRUE(
        monitor.WaitFor([&](const std::string& out) { return out.size() >= wanted; }, row.within))
        << "the log stopped short after " << monitor.Output().size() << " of " << wanted
        << " bytes";
    EXPECT_FALSE(monitor.Exited()) << "the monitor must still run; exit code " << monitor.ExitCode()
                                   << ", signal " << monitor.TermSignal();
    if (!monitor.Exited()) {
      // The log ends in a failed connect: no connect thread, no socket.
      const Holdings holdings = HoldingsOf(monitor.Pid());
      EXPECT_GE(holdings.threads, 1);
      EXPECT_LE(holdings.threads, 1 + kSanitizerRuntimeThreads);
      EXPECT_EQ(holdings.sockets, 0);
    }
    monitor.Stop(SIGKILL);
  } else {
    ASSERT_TRUE(monitor.WaitForExit(row.within)) << "the monitor must end by itself";
    EXPECT_EQ(monitor.ExitCode(), 1);
  }

  const std::string& out = monitor.Output();
  const std::string log = MaskTimeStamps(out);
  if (row.stdout_to == StdoutTo::kFile) {
    EXPECT_GE(out.size(), wanted);
    // Whatever follows in the file is more failed connects.
    EXPECT_EQ(PrefixMismatch(row.log + Times(10, kRefused), out), "");
  } else {
    EXPECT_EQ(PrefixMismatch(row.log, out), "");
    EXPECT_EQ(log.size(), row.log.size()) << Visible(log.substr(std::min(log.size(), wanted)));
  }
  EXPECT_TRUE(std::regex_match(monitor.ErrorOutput(), std::regex(row.error_output)))
      << Visible(monitor.ErrorOutput());
  if (server) {
    EXPECT_TRUE(server->WaitUntilDone(1s));
    EXPECT_EQ(Problems(*server), "");
  }
  if (row.check && !HasFailure()) row.check(monitor, log);
}

INSTANTIATE_TEST_SUITE_P(Matrix, FaultMatrixTest, ::testing::ValuesIn(Rows(false)), RowName);
INSTANTIATE_TEST_SUITE_P(LongMatrix, FaultMatrixTest, ::testing::ValuesIn(Rows(true)), RowName);

}  // namespace
}  // namespace e2e
