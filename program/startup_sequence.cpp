#include "program/startup_sequence.h"

#include <exception>
#include <utility>

bool ConsoleMode = false;
UncaughtFailureRoutine UncaughtFailureHook = nullptr;

namespace {
StartupSequence* g_process_sequence = nullptr;
}  // namespace

StartupSequence::StartupSequence(std::vector<StartupModule*> modules)
    : modules_(std::move(modules)) {}

void StartupSequence::RunStartup() {
  if (started_) return;
  started_ = true;
  for (StartupModule* module : modules_) {
    // Counted before the step runs: a step that fails halfway still gets
    // its shutdown step, which undoes what was done.
    ++active_;
    try {
      module->Startup();
    } catch (...) {
      std::exception_ptr failure = std::current_exception();
      try {
        RunShutdown();
      } catch (...) {
        // The start-up failure is what ends the process; this one adds nothing.
      }
      std::rethrow_exception(failure);
    }
  }
}

void StartupSequence::RunShutdown() {
  std::exception_ptr first_failure;
  while (active_ > 0) {
    // Taken off before the step runs, so that a step that ends the process
    // itself (and runs the shutdown again on its way) is not run twice.
    StartupModule* module = modules_[--active_];
    try {
      module->Shutdown();
    } catch (...) {
      if (!first_failure) first_failure = std::current_exception();
    }
  }
  if (first_failure) std::rethrow_exception(first_failure);
}

void SetProcessStartupSequence(StartupSequence* sequence) { g_process_sequence = sequence; }

StartupSequence* ProcessStartupSequence() { return g_process_sequence; }
