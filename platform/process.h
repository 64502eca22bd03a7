#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/code_address.h"
#include "platform/processor_fault.h"
#include "runtime/exception.h"

// The process services of the runtime: the end of the process and the
// routing of processor faults to the top-level handler.

/// Ends the process at once with `exit_code`. Nothing else runs: no static
/// destructors, no exit handlers, no flushing of the C library's streams; the
/// other threads end with the process. The caller has run its own shutdown.
[[noreturn]] void EndProcessNow(int exit_code);

/// How long the report of a processor fault may take before it counts as
/// hung and ends as `FaultDuringReportRoutine` of the fault it reports.
inline constexpr unsigned kFaultReportTimeLimitSeconds = 5;

/// While an object of this class lives, processor faults of every thread go
/// to a routine: invalid memory accesses (as `EAccessViolation`, or
/// `EStackOverflow` when the stack ran out), arithmetic faults (`EDivByZero`,
/// `EIntOverflow`, the floating-point classes) and illegal or privileged
/// instructions (`EPrivilege`, or `EExternalException` with the fault code).
/// The thread that creates it gets an alternate signal stack, so that even the
/// overflow of its own stack can be reported; other threads have none, and
/// the overflow of theirs ends the process by the system's default.
///
/// Signals that another process sends (kill, sigqueue) are not processor
/// faults: they keep their default treatment, as do console interrupts, for
/// which nothing is installed. At most one object exists at a time.
///
/// One fault is reported at a time: a fault of another thread meanwhile waits
/// for the report to end the process. A fault of the reporting thread itself
/// goes to the `FaultDuringReportRoutine` at once, and so, on POSIX systems,
/// does the reported fault when its report takes longer than
/// `kFaultReportTimeLimitSeconds`: a report never hangs the process.
class ProcessorFaultHandlers final {
 public:
  /// Installs the handlers. Raises `Exception` when the system refuses them
  /// or another object is alive; nothing stays installed then.
  static std::unique_ptr<ProcessorFaultHandlers> Install(
      ProcessorFaultRoutine routine, FaultDuringReportRoutine during_report = nullptr);

  /// Puts back the treatment that was in place before. Called while a fault is
  /// being reported (on the alternate stack) it keeps that stack's memory: the
  /// process is about to end.
  ~ProcessorFaultHandlers();

  ProcessorFaultHandlers(const ProcessorFaultHandlers&) = delete;
  ProcessorFaultHandlers& operator=(const ProcessorFaultHandlers&) = delete;

 private:
  struct State;
  explicit ProcessorFaultHandlers(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
