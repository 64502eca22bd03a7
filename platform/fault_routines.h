#pragma once

// The routines that processor faults go to, held for each system's fault
// handling (process_posix.cpp, process_win32.cpp): one installation at a
// time, in atomics that a signal handler or the unhandled-failure filter can
// read without a lock.

#include "platform/processor_fault.h"

/// Holds the process's one place for the fault routines while it lives.
class FaultRoutineInstallation final {
 public:
  /// Takes the place for `routine` and `during_report` (which may be null).
  /// Raises Exception when `routine` is null or another installation holds
  /// the place; nothing is held then.
  FaultRoutineInstallation(ProcessorFaultRoutine routine, FaultDuringReportRoutine during_report);

  /// Gives the place back: from then on a fault finds no routine.
  ~FaultRoutineInstallation();

  FaultRoutineInstallation(const FaultRoutineInstallation&) = delete;
  FaultRoutineInstallation& operator=(const FaultRoutineInstallation&) = delete;
};

/// The routine installed now; null while there is none. Async-signal-safe.
ProcessorFaultRoutine InstalledFaultRoutine();

/// The routine for a fault during a report given with the latest
/// installation (null when none was given). It outlives the installation: a
/// report whose shutdown steps removed it may still need it.
/// Async-signal-safe.
FaultDuringReportRoutine InstalledDuringReportRoutine();
