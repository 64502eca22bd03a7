#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/fault_routines.h"
#include "platform/fault_text.h"
#include "platform/process.h"
#include "runtime/runtime_errors.h"

void EndProcessNow(int exit_code) { ExitProcess(static_cast<UINT>(exit_code)); }

// --- processor faults ----------------------------------------------------------

namespace {

// The overflow report runs on a thread of its own with this much stack: the
// faulting thread has only what is left below its guard page.
constexpr SIZE_T kReportStackSize = 256 * 1024;

// The thread that reports a fault, 0 while none does. For a stack overflow
// that is the report's own thread, and the faulting one waits for it.
std::atomic<DWORD> g_reporting_thread{0};

// The runtime error number of a fault's kind, as `DescribeFault` classes it.
std::uint8_t RuntimeErrorNumberOf(DWORD code) {
  switch (code) {
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
      return 200;
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return 201;
    case EXCEPTION_STACK_OVERFLOW:
      return 202;
    case EXCEPTION_FLT_OVERFLOW:
      return 205;
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
      return 206;
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_STACK_CHECK:
      return 207;
    case EXCEPTION_INT_OVERFLOW:
      return 215;
    case EXCEPTION_ACCESS_VIOLATION:
      return 216;
    case CONTROL_C_EXIT:
      return 217;
    case EXCEPTION_PRIV_INSTRUCTION:
      return 218;
    default:
      return 255;
  }
}

// The message area of the fault being described: one fault is described at
// a time, by the thread that reports it.
FaultText g_fault_text;

// The fault as the report shows it, without allocating.
ProcessorFault DescribeFault(const EXCEPTION_RECORD& record) {
  const CodeAddress at = reinterpret_cast<CodeAddress>(record.ExceptionAddress);
  const std::uint8_t number = RuntimeErrorNumberOf(record.ExceptionCode);
  switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION: {
      // The first parameter is 1 for a write; 0 (read) and 8 (execution of
      // data) are both reported as reads.
      bool write = record.NumberParameters >= 2 && record.ExceptionInformation[0] == 1;
      CodeAddress data = record.NumberParameters >= 2 ? record.ExceptionInformation[1] : 0;
      return {EAccessViolation::kClassName, g_fault_text.AccessViolation(at, write, data), number};
    }
    case EXCEPTION_STACK_OVERFLOW:
      return FixedFault<EStackOverflow>(number);
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return FixedFault<EDivByZero>(number);
    case EXCEPTION_INT_OVERFLOW:
      return FixedFault<EIntOverflow>(number);
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return FixedFault<ERangeError>(number);
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
      return FixedFault<EZeroDivide>(number);
    case EXCEPTION_FLT_OVERFLOW:
      return FixedFault<EOverflow>(number);
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
      return FixedFault<EUnderflow>(number);
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_STACK_CHECK:
      return FixedFault<EInvalidOp>(number);
    case EXCEPTION_PRIV_INSTRUCTION:
      return FixedFault<EPrivilege>(number);
    case CONTROL_C_EXIT:
      return FixedFault<EControlC>(number);
    default:
      return {EExternalException::kClassName, g_fault_text.ExternalException(record.ExceptionCode),
              number};
  }
}

// A fault inside the report of a fault: the report can't be trusted to
// finish, and waiting for it would wait for ourselves.
[[noreturn]] void EndDuringReport(const EXCEPTION_RECORD& record) {
  std::uint8_t number = RuntimeErrorNumberOf(record.ExceptionCode);
  CodeAddress at = reinterpret_cast<CodeAddress>(record.ExceptionAddress);
  if (FaultDuringReportRoutine routine = InstalledDuringReportRoutine()) routine(number, at);
  ExitProcess(number);
}

struct OverflowReport {
  ProcessorFaultRoutine routine;
  const EXCEPTION_RECORD* record;
};

DWORD WINAPI ReportOverflow(void* parameter) {
  auto* report = static_cast<OverflowReport*>(parameter);
  g_reporting_thread.store(GetCurrentThreadId());
  report->routine(DescribeFault(*report->record),
                  reinterpret_cast<CodeAddress>(report->record->ExceptionAddress));
  return 0;
}

// Whether an exception is a fault of the processor or the system's own
// failure of a call, as opposed to a language exception or a notice such as
// debug output: severity "error" and not an application's own code. Only
// these end a report; C++ exceptions that the report throws and catches
// inside itself pass.
bool IsSystemFailure(DWORD code) {
  constexpr DWORD kSeverityMask = 0xC0000000;
  constexpr DWORD kSeverityError = 0xC0000000;
  constexpr DWORD kCustomerBit = 0x20000000;
  return (code & kSeverityMask) == kSeverityError && (code & kCustomerBit) == 0;
}

// Sees every exception of the process first, before any frame's handler.
// The report of a fault runs inside the system's unhandled-failure filter;
// on 32-bit Windows a fault inside a running filter is a nested exception of
// the frame-based dispatch, which never reaches the filter again: the
// process would end with the raw exception status instead of its runtime
// error. This handler catches it on the reporting thread at once, whatever
// the dispatch. It is registered with the filter, not at the start of a
// report, because a report must not allocate (the heap may be what failed).
LONG WINAPI OnExceptionDuringReport(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (g_reporting_thread.load() == GetCurrentThreadId() && IsSystemFailure(record.ExceptionCode)) {
    EndDuringReport(record);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// Called by the system's unhandled-failure treatment (UnhandledExceptionFilter)
// for a failure that no frame of its thread took, unless a debugger is
// attached: then the system lets the debugger have it and never calls this.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  ProcessorFaultRoutine routine = InstalledFaultRoutine();
  if (routine == nullptr) return EXCEPTION_CONTINUE_SEARCH;
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  DWORD self = GetCurrentThreadId();
  DWORD none = 0;
  if (!g_reporting_thread.compare_exchange_strong(none, self)) {
    if (none == self) EndDuringReport(record);
    // Another thread's fault is being reported, and that report ends the
    // process; this thread must not run on, nor end it first.
    for (;;) Sleep(INFINITE);
  }
  if (record.ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    OverflowReport report{routine, &record};
    HANDLE thread = CreateThread(nullptr, kReportStackSize, ReportOverflow, &report, 0, nullptr);
    if (thread != nullptr) {
      WaitForSingleObject(thread, INFINITE);
      CloseHandle(thread);
    }
  } else {
    routine(DescribeFault(record), reinterpret_cast<CodeAddress>(record.ExceptionAddress));
  }
  // The routine returned (it should not): the system ends the process.
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

struct ProcessorFaultHandlers::State {
  // Given back last, once the filter is ours no more.
  std::optional<FaultRoutineInstallation> routines;
  LPTOP_LEVEL_EXCEPTION_FILTER previous = nullptr;
  bool filter_installed = false;
  void* during_report_handler = nullptr;

  ~State() {
    if (filter_installed) SetUnhandledExceptionFilter(previous);
    if (during_report_handler != nullptr) RemoveVectoredExceptionHandler(during_report_handler);
  }
};

ProcessorFaultHandlers::ProcessorFaultHandlers(std::unique_ptr<State> state)
    : state_(std::move(state)) {}

ProcessorFaultHandlers::~ProcessorFaultHandlers() = default;

std::unique_ptr<ProcessorFaultHandlers> ProcessorFaultHandlers::Install(
    ProcessorFaultRoutine routine, FaultDuringReportRoutine during_report) {
  auto state = std::make_unique<State>();  // its destructor undoes what is done
  state->routines.emplace(routine, during_report);
  g_reporting_thread.store(0);
  // The filter covers every thread of the process. Console interrupts are a
  // separate mechanism (console control handlers) and keep their default.
  state->during_report_handler = AddVectoredExceptionHandler(1, OnExceptionDuringReport);
  if (state->during_report_handler == nullptr) {
    throw Exception("The handler for faults during a fault report could not be installed");
  }
  state->previous = SetUnhandledExceptionFilter(OnUnhandledException);
  state->filter_installed = true;
  return std::unique_ptr<ProcessorFaultHandlers>(new ProcessorFaultHandlers(std::move(state)));
}
