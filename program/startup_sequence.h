#pragma once

#include <cstddef>
#include <vector>

#include "platform/code_address.h"

struct FailureDescription;

/// Set to true by the program before its first start-up step and never
/// changed: the process is a console program. Its failure reports and its
/// runtime-error line go to the console streams, and the application object
/// makes no window. (This platform has no message box to use instead.)
extern bool ConsoleMode;

/// A routine that takes a failure no handler took and the code address where
/// it was taken; it reports the failure and ends the process.
using UncaughtFailureRoutine = void (*)(const FailureDescription& failure,
                                        CodeAddress code_address);

/// The top-level handler's report routine: empty until the error machinery
/// starts, empty again once it has shut down. While it is empty, a failure
/// that reaches the top-level handler ends the process as runtime error 217.
extern UncaughtFailureRoutine UncaughtFailureHook;

/// One module of the start-up sequence, with a start-up and a shutdown step.
/// Both default to doing nothing.
class StartupModule {
 public:
  StartupModule() = default;
  StartupModule(const StartupModule&) = delete;
  StartupModule& operator=(const StartupModule&) = delete;
  virtual ~StartupModule() = default;

  /// May raise. Whether it completes or not, the shutdown step runs later.
  virtual void Startup() {}

  /// Runs once, after a start-up step that began: it must cope with one that
  /// stopped halfway. May raise; the other modules' steps still run.
  virtual void Shutdown() {}
};

/// The process's modules in their fixed start-up order. Shutdown steps run in
/// the reverse order, and only for modules whose start-up step began. Not
/// thread-safe: start-up and shutdown run on the main thread.
class StartupSequence final {
 public:
  /// `modules` in start-up order; not owned, they must outlive the sequence.
  explicit StartupSequence(std::vector<StartupModule*> modules);
  StartupSequence(const StartupSequence&) = delete;
  StartupSequence& operator=(const StartupSequence&) = delete;

  /// Runs every start-up step once, in order. When one raises, the shutdown
  /// steps of every module whose start-up began (the failing one included)
  /// run, newest first, and then the start-up step's failure is raised again;
  /// a failure of those shutdown steps gives way to it.
  /// REQUIRES: called once.
  void RunStartup();

  /// Runs the shutdown step of each module whose start-up began and whose
  /// shutdown has not run yet, newest first. Each shutdown step runs at most
  /// once, also when this is called again (after a failed start-up, or from a
  /// shutdown step that ends the process itself). When steps raise, the
  /// others still run, then the first failure is raised again.
  void RunShutdown();

  /// Modules whose start-up began and whose shutdown has not run yet.
  std::size_t ActiveCount() const { return active_; }

 private:
  std::vector<StartupModule*> modules_;
  std::size_t active_ = 0;  // modules_[0 .. active_) await their shutdown
  bool started_ = false;
};

/// The process's own sequence, whose shutdown steps the end of the process
/// runs; null until the program registers it (and in tests that don't).
void SetProcessStartupSequence(StartupSequence* sequence);
StartupSequence* ProcessStartupSequence();
