#include "platform/process.h"

#include <fenv.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/testing/run_in_child.h"

namespace {

// --- processor faults, each in a child process --------------------------------

// The child's routine writes what it received to standard error, which the
// parent reads, and ends with an exit code of its own.
constexpr int kRoutineExitCode = 42;

void WriteText(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(2, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void ReportingRoutine(const ProcessorFault& fault, CodeAddress code_address) {
  CodeModule module;
  std::string where(FindCodeModule(code_address, &module) ? ModuleBaseName(module.file_name)
                                                          : std::string_view("?"));
  WriteText(std::string(fault.class_name) + "|" + std::string(fault.message) + "|" + where + "\n");
  _exit(kRoutineExitCode);
}

int* volatile g_null_pointer = nullptr;
int* volatile g_low_pointer = reinterpret_cast<int*>(0x10);
volatile int g_zero = 0;
volatile double g_zero_double = 0.0;
volatile int g_depth_limit = 1 << 30;

[[gnu::noinline]] int Recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth >= g_depth_limit) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

void InstallAndRun(void (*fault)()) {
  auto handlers = ProcessorFaultHandlers::Install(ReportingRoutine);
  fault();
}

TEST(ProcessorFaultHandlersTest, EachFaultArrivesAsItsErrorClass) {
  std::string executable(ModuleBaseName(ExecutableFileName()));
  struct Case {
    const char* name;
    void (*fault)();
    std::string expected_prefix;
  } cases[] = {
      {"null read", [] { std::printf("%d", *g_null_pointer); },
       "EAccessViolation|Access violation at address "},
      {"null write", [] { *g_null_pointer = 1; }, "EAccessViolation|Access violation at address "},
      {"integer division by zero", [] { std::printf("%d", 7 / g_zero); },
       "EDivByZero|Division by zero|" + executable},
      {"float division by zero",
       [] {
         feenableexcept(FE_DIVBYZERO);
         std::printf("%f", 1.0 / g_zero_double);
       },
       "EZeroDivide|Floating point division by zero|" + executable},
      {"illegal instruction", [] { __builtin_trap(); },
       "EExternalException|External exception C000001D|" + executable},
      // The module is not checked here: the frame that overflows may be in a
      // runtime library the recursion calls into (a sanitizer's stack
      // allocator does that), which is still a stack overflow.
      {"stack overflow", [] { std::printf("%d", Recurse(0)); }, "EStackOverflow|Stack overflow|"},
  };
  for (const Case& c : cases) {
    ChildOutcome result = RunInChild([&] { InstallAndRun(c.fault); });
    ASSERT_TRUE(WIFEXITED(result.status)) << c.name << ": " << result.err;
    EXPECT_EQ(WEXITSTATUS(result.status), kRoutineExitCode) << c.name;
    EXPECT_EQ(result.err.substr(0, c.expected_prefix.size()), c.expected_prefix)
        << c.name << ": " << result.err;
  }
}

TEST(ProcessorFaultHandlersTest, AccessViolationNamesModuleAccessKindAndAddress) {
  std::string executable(ModuleBaseName(ExecutableFileName()));
  struct Case {
    void (*fault)();
    std::string ending;
  } cases[] = {
      {[] { std::printf("%d", *g_null_pointer); }, "'. Read of address 00000000|" + executable},
      {[] { *g_null_pointer = 1; }, "'. Write of address 00000000|" + executable},
      {[] { *g_low_pointer = 1; }, "'. Write of address 00000010|" + executable},
  };
  for (const Case& c : cases) {
    ChildOutcome result = RunInChild([&] { InstallAndRun(c.fault); });
    EXPECT_NE(result.err.find(" in module '" + executable + c.ending + "\n"), std::string::npos)
        << result.err;
  }
}

TEST(ProcessorFaultHandlersTest, SignalsSentByAProcessKeepTheirDefault) {
  for (int signal_number : {SIGSEGV, SIGFPE, SIGINT, SIGTERM}) {
    ChildOutcome result = RunInChild([&] {
      auto handlers = ProcessorFaultHandlers::Install(ReportingRoutine);
      kill(getpid(), signal_number);
      pause();
    });
    ASSERT_TRUE(WIFSIGNALED(result.status)) << signal_number << ": " << result.err;
    EXPECT_EQ(WTERMSIG(result.status), signal_number);
    EXPECT_EQ(result.err, "");
  }
}

TEST(ProcessorFaultHandlersTest, RemovalRestoresTheSystemsTreatment) {
  ChildOutcome result = RunInChild([] {
    { auto handlers = ProcessorFaultHandlers::Install(ReportingRoutine); }
    // Removed: the fault gets the system's default treatment.
    std::printf("%d", *g_null_pointer);
  });
  ASSERT_TRUE(WIFSIGNALED(result.status)) << result.err;
  EXPECT_EQ(WTERMSIG(result.status), SIGSEGV);
  EXPECT_EQ(result.err, "");

  // And a fresh installation after the removal reports faults again.
  result = RunInChild([] {
    { auto first = ProcessorFaultHandlers::Install(ReportingRoutine); }
    InstallAndRun([] { std::printf("%d", 7 / g_zero); });
  });
  EXPECT_EQ(result.err.substr(0, 11), "EDivByZero|");
}

}  // namespace
