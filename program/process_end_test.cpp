#include "program/process_end.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "monitor/text_output.h"
#include "platform/testing/run_in_child.h"
#include "program/failure_report.h"
#include "program/process_modules.h"
#include "program/startup_sequence.h"

namespace {

// A module whose shutdown step leaves a mark on standard error, can fail, and
// can empty the report routine as the error machinery's step does.
class MarkingModule final : public StartupModule {
 public:
  explicit MarkingModule(const char* name, bool fail = false, bool clears_hook = false)
      : name_(name), fail_(fail), clears_hook_(clears_hook) {}
  void Shutdown() override {
    std::string mark = std::string("[down ") + name_ + "]";
    if (write(2, mark.data(), mark.size()) < 0) return;
    if (clears_hook_) UncaughtFailureHook = nullptr;
    if (fail_) throw Exception("shutdown failed");
  }

 private:
  const char* name_;
  bool fail_;
  bool clears_hook_;
};

// Runs `end` in a child over a started sequence of `modules`, with "log" waiting
// in standard output's buffer (the child's standard output is a pipe).
template <typename End>
ChildOutcome EndInChild(std::vector<StartupModule*> modules, End end) {
  return RunInChild([&] {
    StartupSequence sequence(modules);
    sequence.RunStartup();
    SetProcessStartupSequence(&sequence);
    StandardOutput().Write("log");
    end();
  });
}

TEST(EndProcessTest, RuntimeErrorEndWritesTheLineAfterTheLogThenShutsDown) {
  MarkingModule a("a"), b("b");
  ChildOutcome outcome = EndInChild({&a, &b}, [] { RuntimeErrorEnd(217, 0x0040ABCD); });
  EXPECT_TRUE(outcome.Exited(217)) << outcome.status;
  EXPECT_EQ(outcome.out, "logRuntime error 217 at 0040ABCD\r\n");
  EXPECT_EQ(outcome.err, "[down b][down a]");
}

TEST(EndProcessTest, PlainEndRunsTheShutdownAndWritesNoLine) {
  MarkingModule a("a");
  ChildOutcome outcome = EndInChild({&a}, [] { EndProcess(3); });
  EXPECT_TRUE(outcome.Exited(3));
  EXPECT_EQ(outcome.out, "") << "the log's buffer is the runtime core's to write out";
  EXPECT_EQ(outcome.err, "[down a]");
}

TEST(HandleUncaughtFailureTest, WithoutAReportRoutineItIsRuntimeError217) {
  MarkingModule a("a");
  ChildOutcome outcome = EndInChild({&a}, [] {
    UncaughtFailureHook = nullptr;
    HandleUncaughtFailure({"Exception", "Can't get the Windows version"}, 0x00401000);
  });
  EXPECT_TRUE(outcome.Exited(217));
  EXPECT_EQ(outcome.out, "logRuntime error 217 at 00401000\r\n");
  EXPECT_EQ(outcome.err, "[down a]") << "class and message are not shown";
}

TEST(HandleUncaughtFailureTest, WithTheReportRoutineItReportsThenShutsDownWithExitCode1) {
  MarkingModule a("a");
  ChildOutcome outcome = EndInChild({&a}, [] {
    ConsoleMode = true;
    UncaughtFailureHook = ReportUncaughtFailure;
    HandleUncaughtFailure({"EIdWS2StubError", "Error on loading"}, 0);
  });
  EXPECT_TRUE(outcome.Exited(1));
  EXPECT_EQ(outcome.out, "log");
  EXPECT_EQ(outcome.err,
            std::string(FormatFailureReport({"EIdWS2StubError", "Error on loading"}, 0).View()) +
                "\r\n[down a]");
}

TEST(HandleUncaughtFailureTest, OutsideConsoleModeTheReportHasNoStreamButTheEndIsTheSame) {
  MarkingModule a("a");
  ChildOutcome outcome = EndInChild({&a}, [] {
    ConsoleMode = false;
    UncaughtFailureHook = ReportUncaughtFailure;
    HandleUncaughtFailure({"EIdWS2StubError", "Error on loading"}, 0);
  });
  EXPECT_TRUE(outcome.Exited(1));
  EXPECT_EQ(outcome.out, "") << "the log's buffer is the runtime core's to write out";
  EXPECT_EQ(outcome.err, "[down a]");
}

TEST(HandleUncaughtFailureTest, AShutdownStepFailingAfterTheReportEndsAsRuntimeError217) {
  // Newest first: b fails, a still runs and, like the error machinery,
  // empties the report routine; then b's failure reaches the top-level handler.
  MarkingModule a("a", false, true), b("b", true);
  ChildOutcome outcome = EndInChild({&a, &b}, [] {
    ConsoleMode = true;
    UncaughtFailureHook = ReportUncaughtFailure;
    HandleUncaughtFailure({"E", "first"}, 0);
  });
  EXPECT_TRUE(outcome.Exited(217));
  EXPECT_EQ(outcome.err,
            std::string(FormatFailureReport({"E", "first"}, 0).View()) + "\r\n[down b][down a]");
  ASSERT_EQ(outcome.out.substr(0, 24), "logRuntime error 217 at ");
  EXPECT_EQ(outcome.out.substr(outcome.out.size() - 2), "\r\n");
}

TEST(EndProcessTest, WithoutARegisteredSequenceItJustEnds) {
  ChildOutcome outcome = RunInChild([] {
    SetProcessStartupSequence(nullptr);
    EndProcess(9);
  });
  EXPECT_TRUE(outcome.Exited(9));
  EXPECT_EQ(outcome.out + outcome.err, "");
}

}  // namespace
