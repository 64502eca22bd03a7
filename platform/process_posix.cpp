#include "platform/process.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include "platform/fault_routines.h"
#include "platform/fault_text.h"
#include "runtime/runtime_errors.h"

void EndProcessNow(int exit_code) { _exit(exit_code); }

// --- processor faults ----------------------------------------------------------

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr std::size_t kFaultSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// The report runs on the alternate stack: formatting, the module lookup and
// the shutdown steps need far more than the system's minimum.
constexpr std::size_t kAlternateStackSize = std::size_t{256} * 1024;

// How far from the stack pointer an invalid access still counts as running
// off the end of the stack: the frames of ordinary functions are smaller.
constexpr std::uintptr_t kStackOverflowReach = std::uintptr_t{64} * 1024;

// Fault codes in the numbering the error texts use.
constexpr unsigned kFaultMisalignment = 0x80000002u;
constexpr unsigned kFaultIllegalInstruction = 0xC000001Du;

// The thread that reports a fault (its kernel thread id), 0 while none does.
std::atomic<pid_t> g_reporting_thread{0};
// The fault being reported, for the end that its report running out of time
// takes.
std::atomic<std::uint8_t> g_reported_number{0};
std::atomic<CodeAddress> g_reported_address{0};

// What the signal context tells about the faulting instruction.
struct FaultContext {
  CodeAddress code_address = 0;
  std::uintptr_t stack_pointer = 0;
  bool write = false;  // false also when the kind of access is unknown
};

FaultContext ReadContext(const siginfo_t* info, void* context) {
  FaultContext result;
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  result.code_address = static_cast<CodeAddress>(uc->uc_mcontext.gregs[REG_RIP]);
  result.stack_pointer = static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RSP]);
  // For a page fault (trap 14) bit 1 of the error code marks a write; other
  // traps (a general protection fault) carry no access kind: report a read.
  if (uc->uc_mcontext.gregs[REG_TRAPNO] == 14) {
    result.write = (uc->uc_mcontext.gregs[REG_ERR] & 2) != 0;
  }
#elif defined(__aarch64__)
  result.code_address = static_cast<CodeAddress>(uc->uc_mcontext.pc);
  result.stack_pointer = static_cast<std::uintptr_t>(uc->uc_mcontext.sp);
#else
  (void)uc;
  // Without a known context layout, the kernel's fault address is the
  // instruction for arithmetic and instruction faults, the data otherwise.
  if (info->si_signo == SIGFPE || info->si_signo == SIGILL) {
    result.code_address = reinterpret_cast<CodeAddress>(info->si_addr);
  }
#endif
  (void)info;
  return result;
}

// A stack that runs out faults on an access just below (or, for a frame set
// up before its first store, a little above) the stack pointer; no other
// invalid access lands there, since the rest of the stack is mapped.
bool IsStackOverflow(const siginfo_t* info, const FaultContext& context) {
  if (context.stack_pointer == 0) return false;
  auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  std::uintptr_t low =
      context.stack_pointer > kStackOverflowReach ? context.stack_pointer - kStackOverflowReach : 0;
  return address >= low && address - low <= 2 * kStackOverflowReach;
}

// The runtime error number of a fault's kind, as `DescribeFault` classes it.
std::uint8_t RuntimeErrorNumberOf(const siginfo_t* info, const FaultContext& context) {
  switch (info->si_signo) {
    case SIGSEGV:
      return IsStackOverflow(info, context) ? 202 : 216;
    case SIGBUS:
      return info->si_code == BUS_ADRALN ? 255 : 216;
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
        case FPE_FLTDIV:
          return 200;
        case FPE_INTOVF:
          return 215;
        case FPE_FLTOVF:
          return 205;
        case FPE_FLTUND:
          return 206;
        case FPE_FLTSUB:
          return 201;
        default:
          return 207;
      }
    case SIGILL:
      return info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG ? 218 : 255;
    default:
      return 255;
  }
}

// The message area of the fault being described: one fault is described at
// a time, by the thread that reports it.
FaultText g_fault_text;

// The fault as the report shows it, without allocating.
ProcessorFault DescribeFault(const siginfo_t* info, const FaultContext& context) {
  const CodeAddress at = context.code_address;
  const std::uint8_t number = RuntimeErrorNumberOf(info, context);
  auto access_violation = [&] {
    CodeAddress data = reinterpret_cast<CodeAddress>(info->si_addr);
    return ProcessorFault{EAccessViolation::kClassName,
                          g_fault_text.AccessViolation(at, context.write, data), number};
  };
  auto external = [&](std::uint32_t code) {
    return ProcessorFault{EExternalException::kClassName, g_fault_text.ExternalException(code),
                          number};
  };
  switch (info->si_signo) {
    case SIGSEGV:
      if (IsStackOverflow(info, context)) return FixedFault<EStackOverflow>(number);
      return access_violation();
    case SIGBUS:
      if (info->si_code == BUS_ADRALN) return external(kFaultMisalignment);
      return access_violation();
    case SIGFPE:
      switch (info->si_code) {
        case FPE_INTDIV:
          return FixedFault<EDivByZero>(number);
        case FPE_INTOVF:
          return FixedFault<EIntOverflow>(number);
        case FPE_FLTDIV:
          return FixedFault<EZeroDivide>(number);
        case FPE_FLTOVF:
          return FixedFault<EOverflow>(number);
        case FPE_FLTUND:
          return FixedFault<EUnderflow>(number);
        case FPE_FLTSUB:
          return FixedFault<ERangeError>(number);
        default:  // invalid operation, inexact result, or unclassified
          return FixedFault<EInvalidOp>(number);
      }
    case SIGILL:
      if (info->si_code == ILL_PRVOPC || info->si_code == ILL_PRVREG) {
        return FixedFault<EPrivilege>(number);
      }
      return external(kFaultIllegalInstruction);
    default:
      return external(kFaultIllegalInstruction);
  }
}

// The last resort of a report that can't go on; async-signal-safe.
[[noreturn]] void EndDuringReport(std::uint8_t number, CodeAddress code_address) {
  if (FaultDuringReportRoutine routine = InstalledDuringReportRoutine()) {
    routine(number, code_address);
  }
  _exit(number);
}

// The report of a fault has run out of time: it waits for something that
// will not come (a lock the faulting code held, say).
void OnReportTimeLimit(int) {
  EndDuringReport(g_reported_number.load(), g_reported_address.load());
}

void StartReportTimeLimit() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnReportTimeLimit;
  sigemptyset(&action.sa_mask);
  sigaction(SIGALRM, &action, nullptr);
  // The alarm goes to whichever thread does not block it; unblocked here, it
  // can at least reach the reporting thread.
  sigset_t alarm_only;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  pthread_sigmask(SIG_UNBLOCK, &alarm_only, nullptr);
  alarm(kFaultReportTimeLimitSeconds);
}

// Leaves the signal to the system: with the default action back in place, a
// fault recurs when the instruction is retried, and a sent signal is raised
// again; either way the process ends as the system ends it.
void LeaveToSystem(int signal_number, const siginfo_t* info) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
  if (info->si_code <= 0) raise(signal_number);
}

void OnFaultSignal(int signal_number, siginfo_t* info, void* context) {
  // si_code <= 0: sent by a process (kill, sigqueue, tgkill), not a fault.
  ProcessorFaultRoutine routine = InstalledFaultRoutine();
  if (info->si_code <= 0 || routine == nullptr) return LeaveToSystem(signal_number, info);
  FaultContext fault = ReadContext(info, context);
  auto self = static_cast<pid_t>(syscall(SYS_gettid));
  pid_t none = 0;
  if (!g_reporting_thread.compare_exchange_strong(none, self)) {
    // A fault inside the report of a fault: the report can't be trusted to
    // finish, and waiting for it would wait for ourselves.
    if (none == self) EndDuringReport(RuntimeErrorNumberOf(info, fault), fault.code_address);
    // Another thread's fault is being reported, and that report ends the
    // process; this thread must not run on, nor end it first.
    for (;;) pause();
  }
  g_reported_number.store(RuntimeErrorNumberOf(info, fault));
  g_reported_address.store(fault.code_address);
  StartReportTimeLimit();
  int saved_errno = errno;
  routine(DescribeFault(info, fault), fault.code_address);
  errno = saved_errno;
  LeaveToSystem(signal_number, info);
}

}  // namespace

struct ProcessorFaultHandlers::State {
  // Given back last, once the signals are ours no more.
  std::optional<FaultRoutineInstallation> routines;
  struct sigaction previous[kFaultSignalCount];
  std::size_t installed = 0;  // leading entries of kFaultSignals now ours
  stack_t previous_stack{};
  bool stack_installed = false;
  void* stack_memory = nullptr;

  ~State() {
    for (std::size_t i = installed; i > 0; --i) {
      sigaction(kFaultSignals[i - 1], &previous[i - 1], nullptr);
    }
    if (stack_installed) {
      stack_t current;
      // While a fault is reported the thread runs on this very stack: it can
      // neither be switched off nor released, and the process ends shortly.
      if (sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_ONSTACK) != 0) return;
      sigaltstack(&previous_stack, nullptr);
    }
    if (stack_memory != nullptr) munmap(stack_memory, kAlternateStackSize);
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

  void* memory = mmap(nullptr, kAlternateStackSize, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (memory == MAP_FAILED) throw EOutOfMemory();
  state->stack_memory = memory;
  stack_t stack{};
  stack.ss_sp = memory;
  stack.ss_size = kAlternateStackSize;
  if (sigaltstack(&stack, &state->previous_stack) != 0) {
    throw Exception(std::string("Cannot set the alternate signal stack: ") + std::strerror(errno));
  }
  state->stack_installed = true;

  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = OnFaultSignal;
  // A fault inside the report of a fault must reach the handler again (which
  // ends the process at once): blocked, it would kill the process silently.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal_number : kFaultSignals) {
    if (sigaction(signal_number, &action, &state->previous[state->installed]) != 0) {
      throw Exception(std::string("Cannot install a processor fault handler: ") +
                      std::strerror(errno));
    }
    ++state->installed;
  }
  return std::unique_ptr<ProcessorFaultHandlers>(new ProcessorFaultHandlers(std::move(state)));
}
