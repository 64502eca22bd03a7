#include <windows.h>

#include <gtest/gtest.h>

#include <float.h>
#include <cstdio>
#include <string>

#include "platform/process.h"
#include "platform/testing/self_child_win32.h"

namespace {

// --- processor faults, each in a process of its own -----------------------------

constexpr int kRoutineExitCode = 42;

void ReportingRoutine(const ProcessorFault& fault, CodeAddress code_address) {
  CodeModule module;
  std::string where(FindCodeModule(code_address, &module) ? ModuleBaseName(module.file_name)
                                                          : std::string_view("?"));
  std::string text =
      std::string(fault.class_name) + "|" + std::string(fault.message) + "|" + where + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
            nullptr);
  ExitProcess(kRoutineExitCode);
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

struct FaultCase {
  const char* name;
  void (*fault)();
};

const FaultCase kFaults[] = {
    {"null_read", [] { std::printf("%d", *g_null_pointer); }},
    {"null_write", [] { *g_null_pointer = 1; }},
    {"low_write", [] { *g_low_pointer = 1; }},
    {"int_div_zero", [] { std::printf("%d", 7 / g_zero); }},
    {"float_div_zero",
     [] {
       _clearfp();
       _controlfp(_controlfp(0, 0) & ~_EM_ZERODIVIDE, _MCW_EM);
       std::printf("%f", 1.0 / g_zero_double);
     }},
    {"illegal_instruction", [] { __builtin_trap(); }},
    {"stack_overflow", [] { std::printf("%d", Recurse(0)); }},
    {"privileged", [] { asm volatile("hlt"); }},
    {"raised_code", [] { RaiseException(0x0EEDFADE, 0, 0, nullptr); }},
};

// The child side: runs the case named by the parent, with the handlers on.
TEST(ProcessorFaultChild, Run) {
  std::string name = SelfChildCase();
  if (name.empty()) GTEST_SKIP() << "runs only as the child of the fault tests";
  auto handlers = ProcessorFaultHandlers::Install(ReportingRoutine);
  for (const FaultCase& c : kFaults) {
    if (name == c.name) c.fault();
  }
}

std::string RunFault(const std::string& name) {
  SelfChildOutcome outcome = RunSelfChild("ProcessorFaultChild.Run", name);
  EXPECT_TRUE(outcome.finished) << name;
  EXPECT_EQ(outcome.exit_code, static_cast<DWORD>(kRoutineExitCode)) << name << ": " << outcome.err;
  return outcome.err;
}

TEST(ProcessorFaultHandlersTest, EachFaultArrivesAsItsErrorClass) {
  std::string executable(ModuleBaseName(ExecutableFileName()));
  struct Expected {
    const char* name;
    std::string prefix;
  } cases[] = {
      {"null_read", "EAccessViolation|Access violation at address "},
      {"int_div_zero", "EDivByZero|Division by zero|" + executable},
      {"float_div_zero", "EZeroDivide|Floating point division by zero|" + executable},
      {"illegal_instruction", "EExternalException|External exception C000001D|" + executable},
      {"privileged", "EPrivilege|Privileged instruction|" + executable},
      {"raised_code", "EExternalException|External exception EEDFADE|"},
  };
  for (const Expected& c : cases) {
    std::string err = RunFault(c.name);
    EXPECT_EQ(err.substr(0, c.prefix.size()), c.prefix) << c.name << ": " << err;
  }
}

// 64-bit Wine (8.0) ends a process whose thread overflows its stack at once,
// with exit code 0 and without calling the unhandled-failure filter, even
// with a larger stack guarantee; 32-bit Wine calls it.
bool Is64BitWine() {
#if defined(_WIN64)
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
#else
  return false;
#endif
}

TEST(ProcessorFaultHandlersTest, StackOverflowArrivesAsItsErrorClass) {
  if (Is64BitWine()) GTEST_SKIP() << "64-bit Wine never calls the filter for a stack overflow";
  std::string executable(ModuleBaseName(ExecutableFileName()));
  std::string prefix = "EStackOverflow|Stack overflow|" + executable;
  std::string err = RunFault("stack_overflow");
  EXPECT_EQ(err.substr(0, prefix.size()), prefix) << err;
}

TEST(ProcessorFaultHandlersTest, AccessViolationNamesModuleAccessKindAndAddress) {
  std::string executable(ModuleBaseName(ExecutableFileName()));
  struct Expected {
    const char* name;
    std::string ending;
  } cases[] = {
      {"null_read", "'. Read of address 00000000|" + executable},
      {"null_write", "'. Write of address 00000000|" + executable},
      {"low_write", "'. Write of address 00000010|" + executable},
  };
  for (const Expected& c : cases) {
    std::string err = RunFault(c.name);
    EXPECT_NE(err.find(" in module '" + executable + c.ending + "\n"), std::string::npos)
        << c.name << ": " << err;
  }
}

TEST(ProcessorFaultHandlersTest, RemovalPutsBackThePreviousFilter) {
  LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(nullptr);
  SetUnhandledExceptionFilter(before);
  { auto handlers = ProcessorFaultHandlers::Install(ReportingRoutine); }
  LPTOP_LEVEL_EXCEPTION_FILTER after = SetUnhandledExceptionFilter(before);
  EXPECT_EQ(before, after);
}

}  // namespace
