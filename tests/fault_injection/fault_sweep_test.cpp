// Every call fails once: the real monitor, in process, through one scripted
// run (scripted_monitor_run.h), first clean to count the calls of each kind,
// then again for every N with the N-th call of a kind (or of all kinds
// together) failing once, and with it and every later one failing. Each run
// is judged exactly where its first fault struck (expected_outcome.h) and
// checked as a whole: it ends, leaves nothing behind, writes nothing twice.
// A run whose failure leaves the monitor is run again in a child process,
// where the program's top-level handler takes it: the failure report and
// exit code 1. The program's own start-up steps are swept in child
// processes: there every failure ends as runtime error 217.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "monitor/time_stamp.h"
#include "monitor/version.h"
#include "platform/code_address.h"
#include "platform/testing/run_in_child.h"
#include "program/process_end.h"
#include "program/program_modules.h"
#include "program/testing/started_error_handling.h"
#include "runtime/testing/failing_allocation.h"
#include "tests/fault_injection/call_faults.h"
#include "tests/fault_injection/expected_outcome.h"
#include "tests/fault_injection/scripted_monitor_run.h"

namespace {

int Count(const std::string& text, const std::string& what) {
  int count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
    ++count;
  }
  return count;
}

// The records reported, by their id line.
int Reports(const std::string& log) { return Count(log, "\r\nSYSLOG.ID: "); }

std::string Tail(const std::string& log) {
  return log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
}

// Everything a run must show, whatever failed in it and wherever.
void CheckRun(const RunResult& run, const CallFaultPlan& plan, const RunResult& clean,
              int threads_before) {
  SCOPED_TRACE("plan " + plan.Text());
  EXPECT_FALSE(run.hung) << "no end, no pause: the failing socket call was "
                         << run.first_failed_socket_call << "\n"
                         << Tail(run.log);
  // Nothing of the run stays behind: client, sockets, connect thread; and
  // the monitor never holds two sockets.
  EXPECT_EQ(run.live_components_after, 0);
  EXPECT_EQ(run.open_sockets_after, 0);
  EXPECT_LE(run.most_open_sockets, 1);
  EXPECT_EQ(ThreadsOnceSettled(threads_before), threads_before);
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
  EXPECT_LE(Count(run.log, std::string("Version: ") + kProgramVersion), 1)
      << "the banner written twice";

  if (run.escaped) {
    EXPECT_NE(run.escaped_class, "(not an Exception)");
    return;
  }
  if (!plan.stays_failed) {
    // The monitor goes on to the end of the script; the fault costs at most
    // the one record it hit.
    EXPECT_TRUE(run.reached_end) << run.log;
    EXPECT_GE(Reports(run.log), Reports(clean.log) - 1) << run.log;
  } else {
    EXPECT_TRUE(run.reached_end || run.pause_limit);
  }
  // A pause follows every stamped read or connect error line, 1000 ms and
  // 2000 ms, unless the line itself was lost: to a failing console, or to
  // memory running out while the handler composed it.
  if (plan.kind != CallKind::kConsoleWrite && plan.kind != CallKind::kAllocation &&
      plan.kind.has_value()) {
    std::regex stamped_error("09[:.]\\d\\d[:.]\\d\\d\\.\\d{3}Error: ");
    auto stamped =
        std::distance(std::sregex_iterator(run.log.begin(), run.log.end(), stamped_error),
                      std::sregex_iterator());
    EXPECT_EQ(stamped, static_cast<long>(run.pauses.size())) << run.log;
  }
}

// The failure report on standard error as the top-level handler writes it
// for an error of `class_name` with `message`.
void ExpectFailureReport(const ChildOutcome& outcome, const std::string& class_name,
                         const std::string& message) {
  const std::string self(ModuleBaseName(ExecutableFileName()));
  const std::string head = "Exception " + class_name + " in module " + self + " at ";
  const std::string tail =
      ".\r\n" + message + (message.empty() || message.back() == '.' ? "" : ".") + "\r\n\r\n";
  const std::string& err = outcome.err;
  bool matches = err.size() == head.size() + 8 + tail.size() &&
                 err.compare(0, head.size(), head) == 0 &&
                 err.compare(head.size() + 8, std::string::npos, tail) == 0 &&
                 std::all_of(err.begin() + head.size(), err.begin() + head.size() + 8,
                             [](char c) { return std::isdigit(c) || (c >= 'A' && c <= 'F'); });
  EXPECT_TRUE(matches) << "report: " << err;
  EXPECT_TRUE(outcome.Exited(1)) << "status " << outcome.status;
  EXPECT_EQ(outcome.out, "") << "the run's log goes to its own console, not standard output";
}

// The run again in a child process, where an error that leaves the monitor
// goes to the program's top-level handler.
void CheckEscapeInChild(const CallFaultPlan& plan, const RunResult& run) {
  SCOPED_TRACE("plan " + plan.Text() + " in a child process");
  ChildOutcome outcome = RunInChild([&plan] {
    StartedErrorHandling error_handling;
    RunScripted(plan, Escapes::kTopLevelHandler);
    std::_Exit(3);  // nothing left the monitor
  });
  ExpectFailureReport(outcome, run.escaped_class, run.escaped_message);
}

// Tallies of a sweep, for its summary line.
struct Tally {
  std::size_t runs = 0;
  std::array<std::size_t, kOutcomeCount> outcomes{};
  std::size_t went_on = 0, kept_retrying = 0;
};

void Sweep(std::optional<CallKind> kind, bool stays_failed) {
  RunScripted(std::nullopt);  // the process's one-time set-up happens here
  RunResult clean = RunScripted(std::nullopt);
  const int threads_before = ThreadsOfThisProcess();
  const std::size_t calls = kind ? clean.counts.Of(*kind) : clean.counts.all;
  ASSERT_GE(calls, 1u);
  const std::string kind_name = kind ? std::string(CallKindName(*kind)) : "any";
  Tally tally;
  std::size_t injected = 0;
  for (std::size_t n = 1; n <= calls; ++n) {
    CallFaultPlan plan =
        CallFaultPlan::Parse(kind_name + ":" + std::to_string(n) + (stays_failed ? "+" : ""));
    RunResult run = RunScripted(plan);
    CheckRun(run, plan, clean, threads_before);
    Judgement judgement = JudgeFirstFault(run, plan, clean);
    for (const std::string& problem : judgement.problems) {
      ADD_FAILURE() << "plan " << plan.Text() << " (" << CallKindName(run.fault.kind)
                    << (run.first_failed_socket_call.empty() ? "" : " ")
                    << run.first_failed_socket_call << ", trace code " << run.fault.trace_code
                    << ", " << OutcomeName(judgement.outcome) << "): " << problem << "\n"
                    << Tail(run.log);
    }
    if (std::getenv("FAULT_SWEEP_SHOW") != nullptr) {
      std::printf("%-20s %-13s %-10s trace code %4d  %s\n", plan.Text().c_str(),
                  std::string(CallKindName(run.fault.kind)).c_str(),
                  run.first_failed_socket_call.c_str(), run.fault.trace_code,
                  std::string(OutcomeName(judgement.outcome)).c_str());
    }
    if (run.escaped) CheckEscapeInChild(plan, run);
    injected += stays_failed ? std::min<std::size_t>(run.counts.injected, 1) : run.counts.injected;
    ++tally.runs;
    ++tally.outcomes[static_cast<std::size_t>(judgement.outcome)];
    if (!run.escaped) (run.reached_end ? tally.went_on : tally.kept_retrying)++;
    if (::testing::Test::HasFailure() && std::getenv("FAULT_SWEEP_ALL") == nullptr) break;
  }
  EXPECT_EQ(injected, calls) << "every counted call must have been failed once";
  std::printf("sweep %-13s %-12s calls %4zu runs %4zu |", kind_name.c_str(),
              stays_failed ? "stays-failed" : "once", calls, tally.runs);
  for (std::size_t i = 0; i < kOutcomeCount; ++i) {
    std::printf(" %s %zu,", std::string(OutcomeName(static_cast<Outcome>(i))).c_str(),
                tally.outcomes[i]);
  }
  std::printf(" | went on to the end %zu, kept retrying %zu\n", tally.went_on, tally.kept_retrying);
}

TEST(CallFaultPlanTest, ReadsKindCountAndStaysFailed) {
  CallFaultPlan once = CallFaultPlan::Parse("socket:3");
  EXPECT_EQ(once.kind, CallKind::kSocket);
  EXPECT_EQ(once.n, 3u);
  EXPECT_FALSE(once.stays_failed);
  CallFaultPlan stays = CallFaultPlan::Parse("allocation:12+");
  EXPECT_EQ(stays.kind, CallKind::kAllocation);
  EXPECT_TRUE(stays.stays_failed);
  EXPECT_FALSE(CallFaultPlan::Parse("any:1").kind.has_value());
  EXPECT_EQ(CallFaultPlan::Parse("console-write:7+").Text(), "console-write:7+");
  EXPECT_EQ(CallFaultPlan::Parse("clock-read:2").kind, CallKind::kClockRead);
  EXPECT_EQ(CallFaultPlan::Parse("locale-read:1+").kind, CallKind::kLocaleRead);
  for (std::size_t i = 0; i < kCallKindCount; ++i) {
    const auto kind = static_cast<CallKind>(i);
    EXPECT_EQ(CallFaultPlan::Parse(std::string(CallKindName(kind)) + ":1").kind, kind);
  }
}

TEST(CallFaultPlanTest, RejectsWhatWouldInjectNothing) {
  struct Case {
    const char* plan;
    const char* message_part;
  } cases[] = {
      {"sockets:1", "unknown call kind 'sockets'"},
      {"clock:1", "unknown call kind 'clock'"},
      {"locale:1",
       "known: any, socket, console-write, thread-start, library-load, allocation, "
       "clock-read, locale-read)"},
      {"socket:0", "must be 1 or more"},
      {"socket:-2", "must be 1 or more"},
      {"socket:", "is not a whole number"},
      {"socket:x+", "is not a whole number"},
      {"socket", "expected KIND:N"},
  };
  for (const Case& c : cases) {
    try {
      CallFaultPlan::Parse(c.plan);
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
  for (const char* id : kScriptedRecordIds) {
    EXPECT_EQ(Count(clean.log, std::string("\r\nSYSLOG.ID: ") + id + "\r\nEVENT: up\r\n"), 1)
        << id << "\n"
        << clean.log;
  }
  EXPECT_EQ(Reports(clean.log), 3) << clean.log;
  EXPECT_EQ(Count(clean.log, " Disconnected\r\n"), 3) << "announced once per lost connection";
  EXPECT_EQ(Count(clean.log, "(EIdConnClosedGracefully)"), 3) << clean.log;
  EXPECT_EQ(Count(clean.log, "Connection refused. (EIdConnectException)"), 2) << clean.log;
  for (CallKind kind : {CallKind::kSocket, CallKind::kConsoleWrite, CallKind::kThreadStart,
                        CallKind::kAllocation}) {
    EXPECT_GE(clean.counts.Of(kind), 1u) << CallKindName(kind);
  }
  EXPECT_EQ(clean.counts.Of(CallKind::kLibraryLoad), 0u) << "loaded by the process's first run";
  // The script's clock is fixed, and its separator given: the sweeps have no
  // clock or locale read to fail (clock_and_locale_faults_test.cpp fails them).
  EXPECT_EQ(clean.counts.Of(CallKind::kClockRead), 0u);
  EXPECT_EQ(clean.counts.Of(CallKind::kLocaleRead), 0u);
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
  CallFaultPlan plan = CallFaultPlan::Parse(text);
  // The library is loaded by the process's first run only: a plan for its
  // load runs first.
  RunResult clean;
  if (plan.kind != CallKind::kLibraryLoad) {
    RunScripted(std::nullopt);
    clean = RunScripted(std::nullopt);
  }
  const int threads_before = ThreadsOfThisProcess();
  RunResult run = RunScripted(plan);
  std::printf("%s\npauses:", run.log.c_str());
  for (const PauseSeen& pause : run.pauses) std::printf(" %d", pause.milliseconds);
  std::printf("\nfirst fault: %s %s at trace code %d\nescaped: %s %s\n",
              std::string(CallKindName(run.fault.kind)).c_str(),
              run.first_failed_socket_call.c_str(), run.fault.trace_code,
              run.escaped ? run.escaped_class.c_str() : "no", run.escaped_message.c_str());
  CheckRun(run, plan, clean, threads_before);
  if (plan.kind != CallKind::kLibraryLoad) {
    for (const std::string& problem : JudgeFirstFault(run, plan, clean).problems) {
      ADD_FAILURE() << problem;
    }
  }
}

// The sockets library's one load per process, failed in a process of its
// own: the client can't be made, and the failure leaves the monitor with the
// banner written.
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
    EXPECT_NE(
        output.find(std::string("[ RUN      ] FaultSweepTest.OneRunOfThePlanInTheEnvironment\n"
                                "Version: ") +
                    kProgramVersion + "\r\n\r\n\npauses:"),
        std::string::npos)
        << "the banner and nothing else: " << output;
  }
}

// The program's start-up steps in a child process, as main runs them, with
// `plan`; when start-up went through, the child writes the calls it counted,
// the kind of the first fault and the separator the stamps will use.
ChildOutcome StartupInChild(const std::optional<CallFaultPlan>& plan) {
  return RunInChild([&plan] {
    ConsoleMode = true;
    ProgramModules modules;
    StartupSequence& sequence = modules.Sequence();
    SetProcessStartupSequence(&sequence);
    SetAllocationGate([] { return CallFaults::Fails(CallKind::kAllocation); });
    std::optional<CallKind> first_fault;
    CallFaults::Start(plan, [&first_fault](CallKind kind) { first_fault = kind; });
    try {
      sequence.RunStartup();
    } catch (...) {
      HandleCurrentFailure(CurrentCodeAddress());
    }
    CallCounts counts = CallFaults::Stop();
    SetAllocationGate(nullptr);
    std::printf("calls");
    for (std::size_t count : counts.per_kind) std::printf(" %zu", count);
    std::printf("\nfirst fault: %s\nseparator '%s'\n",
                first_fault ? std::string(CallKindName(*first_fault)).c_str() : "none",
                ProcessTimeSeparator().c_str());
    std::fflush(stdout);
    std::_Exit(0);
  });
}

// Start-up allocates and reads the locale's settings once (no start-up step
// writes, reads the clock, starts a thread or touches the network). Each
// allocation failing, once or from then on, ends the process as runtime
// error 217 before any line of the monitor; the locale read failing is no
// failure of start-up: the stamps take ":".
TEST(FaultSweepTest, EachCallOfTheProgramsStartUpFailing) {
  ChildOutcome clean = StartupInChild(std::nullopt);
  ASSERT_TRUE(clean.Exited(0)) << clean.out << clean.err;
  std::array<std::size_t, kCallKindCount> counts{};
  static_assert(kCallKindCount == 7, "read every kind's count below");
  ASSERT_EQ(std::sscanf(clean.out.c_str(), "calls %zu %zu %zu %zu %zu %zu %zu", &counts[0],
                        &counts[1], &counts[2], &counts[3], &counts[4], &counts[5], &counts[6]),
            7)
      << clean.out;
  for (CallKind kind : {CallKind::kSocket, CallKind::kConsoleWrite, CallKind::kThreadStart,
                        CallKind::kLibraryLoad, CallKind::kClockRead}) {
    EXPECT_EQ(counts[static_cast<std::size_t>(kind)], 0u) << CallKindName(kind);
  }
  EXPECT_EQ(counts[static_cast<std::size_t>(CallKind::kLocaleRead)], 1u) << "read once";
  const std::size_t allocations = counts[static_cast<std::size_t>(CallKind::kAllocation)];
  EXPECT_GE(allocations, 3u) << "the fault handlers, the application object, the probe's buffer";
  const std::size_t calls = allocations + counts[static_cast<std::size_t>(CallKind::kLocaleRead)];
  const std::regex runtime_error_217("Runtime error 217 at [0-9A-F]{8,16}\r\n");
  for (bool stays_failed : {false, true}) {
    std::size_t went_through = 0;
    for (std::size_t n = 1; n <= calls; ++n) {
      CallFaultPlan plan =
          CallFaultPlan::Parse("any:" + std::to_string(n) + (stays_failed ? "+" : ""));
      ChildOutcome outcome = StartupInChild(plan);
      if (outcome.Exited(0)) {
        ++went_through;
        EXPECT_NE(outcome.out.find("\nfirst fault: locale-read\nseparator ':'\n"),
                  std::string::npos)
            << plan.Text() << ": went through after another fault: " << outcome.out;
        EXPECT_EQ(outcome.err, "") << plan.Text();
        continue;
      }
      EXPECT_TRUE(outcome.Exited(217)) << plan.Text() << ": status " << outcome.status << "\n"
                                       << outcome.out << outcome.err;
      EXPECT_TRUE(std::regex_match(outcome.out, runtime_error_217))
          << plan.Text() << ": " << outcome.out;
      EXPECT_EQ(outcome.err, "") << plan.Text();
    }
    // Failed once, the locale read is the one call start-up goes on after;
    // failed from then on, the allocations of the steps after it fail too.
    EXPECT_EQ(went_through, stays_failed ? 0u : 1u);
    std::printf(
        "start-up sweep %-12s calls %zu runs %zu (%zu went through, the rest runtime "
        "error 217)\n",
        stays_failed ? "stays-failed" : "once", calls, calls, went_through);
  }
}

class FaultSweepTest : public ::testing::TestWithParam<std::optional<CallKind>> {};

TEST_P(FaultSweepTest, EachCallFailingOnce) { Sweep(GetParam(), false); }
TEST_P(FaultSweepTest, EachCallFailingFromThenOn) { Sweep(GetParam(), true); }

INSTANTIATE_TEST_SUITE_P(Kinds, FaultSweepTest,
                         ::testing::Values(CallKind::kSocket, CallKind::kConsoleWrite,
                                           CallKind::kThreadStart, CallKind::kAllocation,
                                           std::nullopt),
                         [](const ::testing::TestParamInfo<std::optional<CallKind>>& info) {
                           std::string name(info.param ? CallKindName(*info.param) : "any");
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

}  // namespace
