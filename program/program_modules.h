#pragma once

#include "program/cpu_usage_probe.h"
#include "program/process_modules.h"
#include "program/startup_sequence.h"

/// The program's start-up sequence with its modules, in their fixed order.
/// Modules that have nothing to do in this program are left out: the
/// component library (C++ classes need no registration; the main thread's
/// message queue comes with the application object) and the utilities of time
/// stamps and markers (no start-up work). The program keeps one until the
/// process ends, which it does without returning from main.
class ProgramModules {
 public:
  ProgramModules();
  ProgramModules(const ProgramModules&) = delete;
  ProgramModules& operator=(const ProgramModules&) = delete;

  StartupSequence& Sequence() { return sequence_; }

 private:
  RuntimeCoreModule runtime_core_;
  ErrorMachineryModule error_machinery_;
  WindowingModule windowing_;
  TcpLibraryModule tcp_library_;
  CpuUsageProbe cpu_usage_probe_;
  StartupSequence sequence_;
};
