#pragma once

#include <exception>
#include <memory>
#include <new>

#include "platform/process.h"
#include "program/failure_description.h"
#include "program/startup_sequence.h"

// The modules of the program's start-up sequence, other than the CPU-usage
// probe (cpu_usage_probe.h). ProgramModules (program_modules.h) holds them in
// their fixed order. None of their steps writes anything.

/// The runtime core: the standard output, set up closed and opened at its
/// first write, and the processor-fault handlers of every thread. Until the
/// error machinery is in place (and again after its shutdown step) a fault
/// ends the process as the runtime error that tells its kind
/// (`ProcessorFault::runtime_error_number`); while it is, the fault reaches
/// the top-level handler as the error class it stands for, described without
/// memory. The shutdown step writes out what
/// standard output still buffers (the orderly exit; a failure of that last
/// write is ignored, as the process is ending and has no stream left to tell)
/// and gives faults back to the system's default.
class RuntimeCoreModule final : public StartupModule {
 public:
  RuntimeCoreModule();
  ~RuntimeCoreModule() override;
  void Startup() override;
  void Shutdown() override;

 private:
  std::unique_ptr<ProcessorFaultHandlers> fault_handlers_;
};

/// The report routine that the error machinery installs as
/// `UncaughtFailureHook`: in a console program (`ConsoleMode`) the failure
/// report goes to standard error after what standard output still buffers
/// (`WriteFailureReport`); a program without a console has no stream to show
/// it on (this platform has no message box) and writes nothing. Then the
/// process ends with exit code 1 after its shutdown steps (`EndProcess`).
[[noreturn]] void ReportUncaughtFailure(const FailureDescription& failure,
                                        CodeAddress code_address);

/// The error machinery: from its start-up step on, processor faults of every
/// thread (caught by the runtime core's handlers) and failures that escape a
/// thread other than the main one reach the top-level handler as error
/// objects, an allocation that finds no memory raises `EOutOfMemory` (the new
/// handler `RaiseOutOfMemory`), `UncaughtFailureHook` is
/// `ReportUncaughtFailure`, and the locale's time separator has been read (it
/// is not read again). Its shutdown step undoes all but the separator.
///
/// Error objects for exhausted memory need not be made in advance here: the
/// language runtime keeps room of its own for raising them.
class ErrorMachineryModule final : public StartupModule {
 public:
  ErrorMachineryModule();
  ~ErrorMachineryModule() override;
  void Startup() override;
  void Shutdown() override;

 private:
  std::terminate_handler previous_terminate_ = nullptr;
  std::new_handler previous_new_handler_ = nullptr;
  bool installed_ = false;
};

/// The windowing layer: makes the application object `Application` (which
/// owns no window in a console process) and destroys it at shutdown.
class WindowingModule final : public StartupModule {
 public:
  void Startup() override;
  void Shutdown() override;
};

/// The TCP library: the sockets binding reset and the socket stack class
/// chosen at start-up; at shutdown the sockets library is shut down and
/// released if it was started (by the first transport component).
class TcpLibraryModule final : public StartupModule {
 public:
  void Startup() override;
  void Shutdown() override;
};
