// Every call fails once: the real monitor, in process, through one scripted
// run (start-up, connect, request, a record over several receives, its
// report, the repeated request, the peer's close, the disconnect notice, a
// refused reconnect, a reconnect, a second record, and so on), first clean to
// count the calls of each kind, then again for every N with the N-th call of
// a kind failing once, and with it and every later one failing. Each run is
// checked against what the monitor's handlers promise; pauses go through the
// monitor's pause seam and take no time.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "monitor/application.h"
#include "monitor/monitor_state.h"
#include "monitor/run_monitor.h"
#include "monitor/text_output.h"
#include "platform/console.h"
#include "runtime/runtime_errors.h"
#include "tests/fault_injection/call_faults.h"
#include "tests/fault_injection/scripted_peer_stack.h"
#include "tests/support/failing_allocation.h"
#include "transport/anti_freeze.h"
#include "transport/scoped_stack_class.h"
#include "transport/socket_stack.h"
#include "transport/sockets_binding.h"
#include "transport/sockets_library_stack.h"

namespace {

// Not derived from Exception, so it passes every handler of the monitor.
struct EndOfRun {};

// More pauses than the scripted run needs even with a fault in it: a run that
// gets here retries a call that stays failed (which the monitor must do
// forever) or loops.
constexpr std::size_t kMostPauses = 24;

// The connect thread is polled without sleeping; see fuzz/monitor_over_stream.
class NoSleepAntiFreeze final : public TIdAntiFreezeBase {
 public:
  NoSleepAntiFreeze() : TIdAntiFreezeBase(nullptr) { IdleTimeOut = 0; }
  void ProcessEvents() override { std::this_thread::yield(); }
};

std::string Record(const std::string& id) {
  return "<StatusChange><SyslogID>" + id + "</SyslogID><Status>up</Status></StatusChange>";
}

const std::string kRecordA = Record("A1");
const std::string kRecordB = Record("B2");
const std::string kRecordC = Record("C3");

std::vector<PeerConnection> Script() {
  return {
      {true, kRecordA, 7},   // a record over several receives, then the close
      {false, "", 7},        // a refused reconnect
      {true, kRecordB, 16},  // the second record
      {true, kRecordC, 64},  // and one more, so a fault late in the run still has one after it
  };
}

// The console: a character device (every statement is written out) whose
// writes the plan may fail, as a full disk under the log fails them (ENOSPC,
// "I/O error 28"). What it keeps for the test is the harness's memory.
class PlannedConsole final : public ConsoleSink {
 public:
  int Open() override { return 0; }
  bool IsCharacterDevice() const override { return true; }
  int Write(const char* data, std::size_t size) override {
    if (CallFaults::Fails(CallKind::kConsoleWrite)) return 28;
    CallFaults::HarnessScope harness;
    written_.append(data, size);
    return 0;
  }
  const std::string& Written() const { return written_; }

 private:
  std::string written_;
};

int ThreadsOfThisProcess() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

// The thread count once a run's threads are gone. A joined thread can still
// be listed for a moment: the join returns when the thread has let go of its
// stack, a little before the system forgets it. A thread that was never
// joined is still there after the wait.
int ThreadsOnceSettled(int expected) {
  int count = ThreadsOfThisProcess();
  for (int waited_ms = 0; count > expected && waited_ms < 2000; waited_ms += 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    count = ThreadsOfThisProcess();
  }
  return count;
}

struct RunResult {
  std::string log;  // what the console accepted
  std::vector<std::int32_t> pauses;
  bool reached_end = false;  // the script was used up and the last connect refused
  bool pause_limit = false;
  bool escaped = false;
  std::string escaped_class;
  bool hung = false;  // it went on without end and without a pause
  std::string first_failed_socket_call;
  CallCounts counts;
  std::size_t clock_reads = 0;
  int live_components_after = 0;
  int open_sockets_after = 0;
  int threads_after = 0;
};

// One run of the monitor over the script, with `plan` (none: clean).
RunResult RunScripted(const std::optional<FaultPlan>& plan) {
  RunResult result;
  const int threads_at_start = ThreadsOfThisProcess();
  ScopedStackClass stack_class(&StackClassOf<ScriptedPeerStack>);
  ScriptedPeerStack::SetScript(Script());
  // The sockets library is loaded and started once in a process, by the
  // first stack: that run makes the one call of its kind, which fails
  // through the library's file name.
  const bool loads_library = !SocketsStarted();
  const std::string library = sockets_binding::SocketsLibraryFileName();

  PlannedConsole sink;
  NoSleepAntiFreeze anti_freeze;
  TApplication application;
  TextOutput output(sink);
  double elapsed_days = 0;
  MonitorServices services;
  services.output = &output;
  services.application = &application;
  services.now = [&] {
    ++result.clock_reads;
    return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7}) + elapsed_days;
  };
  services.pause = [&](std::int32_t milliseconds) {
    CallFaults::HarnessScope harness;
    result.pauses.push_back(milliseconds);
    elapsed_days += milliseconds / 86400000.0;
    if (milliseconds == 2000 && ScriptedPeerStack::ScriptDone()) {
      result.reached_end = true;
      throw EndOfRun{};
    }
    if (result.pauses.size() >= kMostPauses) {
      result.pause_limit = true;
      throw EndOfRun{};
    }
  };
  MonitorSettings settings;
  settings.status_server_host = "localhost";

  std::new_handler previous_handler = std::set_new_handler(RaiseOutOfMemory);
  SetAllocationGate([] { return CallFaults::Fails(CallKind::kAllocation); });
  CallFaults::Start(plan);
  if (loads_library && CallFaults::Fails(CallKind::kLibraryLoad)) {
    sockets_binding::SetSocketsLibraryFileName("/nonexistent/" + library);
  }
  {
    // Made inside, as the program's RunMonitor makes it: its allocation is
    // one of the run's.
    std::unique_ptr<MonitorState> state;
    try {
      state = std::make_unique<MonitorState>(settings.received_text_limit);
      RunMonitor(settings, services, *state);
    } catch (const EndOfRun&) {
    } catch (const SocketCallLimitReached&) {
      result.hung = true;
    } catch (const Exception& error) {
      CallFaults::HarnessScope harness;
      result.escaped = true;
      result.escaped_class = error.ClassName();
    } catch (...) {
      CallFaults::HarnessScope harness;
      result.escaped = true;
      result.escaped_class = "(not an Exception)";
    }
  }  // the client goes here, as it would at the end of the process
  result.counts = CallFaults::Stop();
  SetAllocationGate(nullptr);
  std::set_new_handler(previous_handler);
  sockets_binding::SetSocketsLibraryFileName(library);

  result.log = sink.Written();
  result.first_failed_socket_call = ScriptedPeerStack::FirstFailedCall();
  result.live_components_after = LiveComponentCount;
  result.open_sockets_after = ScriptedPeerStack::OpenSockets();
  result.threads_after = ThreadsOnceSettled(threads_at_start);
  return result;
}

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// The records reported: each report has a line with the record id.
int Reports(const std::string& log) { return Count(log, "\r\nSYSLOG.ID: "); }

// Everything a run must show whatever failed in it.
void CheckRun(const RunResult& run, const FaultPlan& plan, const RunResult& clean,
              int threads_before) {
  SCOPED_TRACE("plan " + plan.Text());
  EXPECT_FALSE(run.hung) << "no end, no pause: the failing socket call was "
                         << run.first_failed_socket_call << "\n"
                         << run.log.substr(run.log.size() > 2000 ? run.log.size() - 2000 : 0);
  // Nothing of the run stays behind: client, sockets, connect thread.
  EXPECT_EQ(run.live_components_after, 0);
  EXPECT_EQ(run.open_sockets_after, 0);
  EXPECT_EQ(run.threads_after, threads_before);
  EXPECT_GE(run.counts.injected, 1u) << "the plan injected nothing";

  // Every error line names an error class; a pass error line has one of the
  // trace codes the pass can be at.
  std::regex error_line(
      "Error: [^\\r]*(\\r\\n[^\\r]*)? \\((E[A-Za-z0-9]+)\\)( LogRec\\.Trace=(\\d+))?");
  for (std::sregex_iterator it(run.log.begin(), run.log.end(), error_line), end; it != end; ++it) {
    std::string code = (*it)[4].str();
    if (!code.empty()) {
      EXPECT_TRUE(code == "220" || code == "230" || code == "240" || code == "250" || code == "260")
          << (*it)[0].str();
    }
  }
  // Bytes are never written twice: the log holds no more of anything than
  // the clean run, except what the fault's own lines and retries add.
  EXPECT_LE(Count(run.log, "Version: 15.2.23.6"), 1);

  if (run.escaped) {
    // Only what the monitor's handlers can't take may leave it: its start-up
    // steps, a handler's own failure. Always an error object, so that the
    // report can name its class.
    EXPECT_NE(run.escaped_class, "(not an Exception)");
    EXPECT_TRUE(plan.kind == CallKind::kConsoleWrite || plan.kind == CallKind::kAllocation ||
                plan.kind == CallKind::kLibraryLoad)
        << "a failure of kind " << CallKindName(*plan.kind) << " escaped as " << run.escaped_class;
    return;
  }
  if (!plan.stays_failed) {
    // The monitor goes on to the end of the script, and the fault costs at
    // most the one record it hit.
    EXPECT_TRUE(run.reached_end) << run.log;
    EXPECT_GE(Reports(run.log), Reports(clean.log) - 1) << run.log;
  } else {
    EXPECT_TRUE(run.reached_end || run.pause_limit);
  }
  // A pause follows every read or connect error line, 1000 ms and 2000 ms,
  // unless the line itself was lost: to a failing console, or to memory
  // running out while the handler composed it (the pass handler then takes
  // that failure).
  if (plan.kind != CallKind::kConsoleWrite && plan.kind != CallKind::kAllocation) {
    int pauses_1000 = 0, pauses_2000 = 0;
    for (std::int32_t pause : run.pauses) (pause == 1000 ? pauses_1000 : pauses_2000)++;
    std::regex stamped_error("09[:.]\\d\\d[:.]\\d\\d\\.\\d{3}Error: ");
    auto stamped =
        std::distance(std::sregex_iterator(run.log.begin(), run.log.end(), stamped_error),
                      std::sregex_iterator());
    EXPECT_EQ(stamped, pauses_1000 + pauses_2000) << run.log;
  }
}

class FaultSweepTest : public ::testing::TestWithParam<CallKind> {};

TEST(FaultPlanTest, ReadsKindCountAndStaysFailed) {
  FaultPlan once = FaultPlan::Parse("socket:3");
  EXPECT_EQ(once.kind, CallKind::kSocket);
  EXPECT_EQ(once.n, 3u);
  EXPECT_FALSE(once.stays_failed);
  FaultPlan stays = FaultPlan::Parse("allocation:12+");
  EXPECT_EQ(stays.kind, CallKind::kAllocation);
  EXPECT_TRUE(stays.stays_failed);
  EXPECT_FALSE(FaultPlan::Parse("any:1").kind.has_value());
  EXPECT_EQ(FaultPlan::Parse("console-write:7+").Text(), "console-write:7+");
}

TEST(FaultPlanTest, RejectsWhatWouldInjectNothing) {
  struct Case {
    const char* plan;
    const char* message_part;
  } cases[] = {
      {"sockets:1", "unknown call kind 'sockets'"},
      {"clock:1", "unknown call kind 'clock'"},
      {"socket:0", "must be 1 or more"},
      {"socket:-2", "must be 1 or more"},
      {"socket:", "is not a whole number"},
      {"socket:x+", "is not a whole number"},
      {"socket", "expected KIND:N"},
  };
  for (const Case& c : cases) {
    try {
      FaultPlan::Parse(c.plan);
      ADD_FAILURE() << "accepted " << c.plan;
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(c.message_part), std::string::npos)
          << c.plan << ": " << error.what();
    }
  }
}

TEST(FaultSweepTest, TheCleanRunGoesThroughTheWholeScript) {
  RunScripted(std::nullopt);  // the process's one-time set-up happens here
  RunResult clean = RunScripted(std::nullopt);
  EXPECT_FALSE(clean.escaped) << clean.escaped_class;
  EXPECT_TRUE(clean.reached_end) << clean.log;
  EXPECT_EQ(Reports(clean.log), 3) << clean.log;
  EXPECT_EQ(Count(clean.log, " Disconnected\r\n"), 3) << "announced once per lost connection";
  EXPECT_EQ(Count(clean.log, "(EIdConnClosedGracefully)"), 3) << clean.log;
  EXPECT_EQ(Count(clean.log, "Connection refused. (EIdConnectException)"), 2) << clean.log;
  for (CallKind kind : {CallKind::kSocket, CallKind::kConsoleWrite, CallKind::kThreadStart,
                        CallKind::kAllocation}) {
    EXPECT_GE(clean.counts.Of(kind), 1u) << CallKindName(kind);
  }
  EXPECT_EQ(clean.counts.Of(CallKind::kLibraryLoad), 0u) << "loaded by the process's first run";
  EXPECT_EQ(clean.counts.injected, 0u);
  // The same run again makes the same calls: the sweep's numbering holds.
  RunResult again = RunScripted(std::nullopt);
  EXPECT_EQ(again.counts.per_kind, clean.counts.per_kind);
  EXPECT_EQ(again.log, clean.log);
}

// One run with the plan in FAULT_PLAN, its log printed: to look at a run
// that a sweep found at fault.
TEST(FaultSweepTest, OneRunOfThePlanInTheEnvironment) {
  const char* text = std::getenv("FAULT_PLAN");
  if (text == nullptr) GTEST_SKIP() << "set FAULT_PLAN, for instance FAULT_PLAN=socket:12+";
  FaultPlan plan = FaultPlan::Parse(text);
  // The library is loaded by the process's first run only: a plan for its
  // load runs first.
  RunResult clean;
  if (plan.kind != CallKind::kLibraryLoad) {
    RunScripted(std::nullopt);
    clean = RunScripted(std::nullopt);
  }
  RunResult run = RunScripted(plan);
  std::printf("%s\npauses:", run.log.c_str());
  for (std::int32_t pause : run.pauses) std::printf(" %d", pause);
  std::printf("\nescaped: %s\n", run.escaped ? run.escaped_class.c_str() : "no");
  CheckRun(run, plan, clean, ThreadsOfThisProcess());
}

// The sockets library's one load per process, failed in a process of its
// own: the client can't be made, and the failure leaves the monitor for the
// top-level handler (its report and exit code 1 are the process tests').
TEST(FaultSweepTest, TheSocketsLibraryFailingToLoad) {
  char self[4096];
  ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(length, 0);
  self[length] = '\0';
  for (const char* plan : {"library-load:1", "library-load:1+"}) {
    std::string command = std::string("FAULT_PLAN=") + plan + " '" + self +
                          "' --gtest_filter=FaultSweepTest.OneRunOfThePlanInTheEnvironment 2>&1";
    std::FILE* child = popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, child)) output.append(buffer, n);
    int status = pclose(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << plan << "\n" << output;
    EXPECT_NE(output.find("escaped: EIdWS2StubError"), std::string::npos) << plan << "\n" << output;
    EXPECT_NE(output.find("Version: 15.2.23.6\r\n\r\n"), std::string::npos)
        << "the banner comes before the client: " << output;
  }
}

void Sweep(CallKind kind, bool stays_failed) {
  RunScripted(std::nullopt);  // the process's one-time set-up happens here
  RunResult clean = RunScripted(std::nullopt);
  int threads_before = ThreadsOfThisProcess();
  std::size_t calls = clean.counts.Of(kind);
  ASSERT_GE(calls, 1u);
  std::size_t injected = 0, escaped = 0, went_on = 0, kept_retrying = 0;
  for (std::size_t n = 1; n <= calls; ++n) {
    FaultPlan plan = FaultPlan::Parse(std::string(CallKindName(kind)) + ":" + std::to_string(n) +
                                      (stays_failed ? "+" : ""));
    RunResult run = RunScripted(plan);
    CheckRun(run, plan, clean, threads_before);
    injected += stays_failed ? std::min<std::size_t>(run.counts.injected, 1) : run.counts.injected;
    (run.escaped ? escaped : run.reached_end ? went_on : kept_retrying)++;
    if (::testing::Test::HasFailure() && std::getenv("FAULT_SWEEP_ALL") == nullptr) break;
  }
  EXPECT_EQ(injected, calls) << "every counted call must have been failed once";
  std::printf(
      "sweep %-13s %-12s calls %5zu  runs %5zu  went on %5zu  kept retrying %5zu  "
      "ended with report %5zu\n",
      std::string(CallKindName(kind)).c_str(), stays_failed ? "stays-failed" : "once", calls, calls,
      went_on, kept_retrying, escaped);
}

TEST_P(FaultSweepTest, EachCallFailingOnce) { Sweep(GetParam(), false); }
TEST_P(FaultSweepTest, EachCallFailingFromThenOn) { Sweep(GetParam(), true); }

INSTANTIATE_TEST_SUITE_P(Kinds, FaultSweepTest,
                         ::testing::Values(CallKind::kSocket, CallKind::kConsoleWrite,
                                           CallKind::kThreadStart, CallKind::kAllocation),
                         [](const ::testing::TestParamInfo<CallKind>& info) {
                           std::string name(CallKindName(info.param));
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

}  // namespace
