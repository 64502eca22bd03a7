#include "monitor/process_modules.h"

#include <atomic>
#include <cstdlib>

#include "monitor/application.h"
#include "monitor/failure_report.h"
#include "monitor/process_end.h"
#include "monitor/text_output.h"
#include "monitor/time_stamp.h"
#include "transport/transport_module.h"

namespace {

// Set by the error machinery's start-up step, cleared by its shutdown step;
// read by the fault handler on whichever thread faults.
std::atomic<bool> error_machinery_in_place{false};

void OnProcessorFault(const Exception& error, CodeAddress code_address) {
  if (error_machinery_in_place.load()) {
    HandleUncaughtFailure(DescribeFailure(error), code_address);
  }
  RuntimeErrorEnd(RuntimeErrorNumberOfFault(error), code_address);
}

// A failure that leaves the body of a thread other than the main one (whose
// failures main() takes) ends up here: it gets the same top-level treatment.
// Without a failure in flight, termination keeps the language's default.
[[noreturn]] void OnTerminate() {
  if (std::current_exception()) {
    HandleUncaughtFailure(DescribeCurrentFailure(), CurrentCodeAddress());
  }
  std::abort();
}

}  // namespace

RuntimeCoreModule::RuntimeCoreModule() = default;
RuntimeCoreModule::~RuntimeCoreModule() = default;

void RuntimeCoreModule::Startup() {
  StandardOutput();  // made now, opened by the first write
  fault_handlers_ = ProcessorFaultHandlers::Install(OnProcessorFault);
}

void RuntimeCoreModule::Shutdown() {
  try {
    StandardOutput().Flush();
  } catch (const Exception&) {
  }
  fault_handlers_.reset();
}

ErrorMachineryModule::ErrorMachineryModule() = default;
ErrorMachineryModule::~ErrorMachineryModule() = default;

void ErrorMachineryModule::Startup() {
  previous_terminate_ = std::set_terminate(OnTerminate);
  terminate_installed_ = true;
  UncaughtFailureHook = ReportUncaughtFailure;
  ProcessTimeSeparator();  // the locale's settings, read this once
  error_machinery_in_place = true;
}

void ErrorMachineryModule::Shutdown() {
  error_machinery_in_place = false;
  UncaughtFailureHook = nullptr;
  if (terminate_installed_) {
    std::set_terminate(previous_terminate_);
    terminate_installed_ = false;
  }
}

void WindowingModule::Startup() {
  // No mouse or screen objects: a console process has neither to manage.
  Application = new TApplication();
}

void WindowingModule::Shutdown() {
  delete Application;
  Application = nullptr;
}

void TcpLibraryModule::Startup() { StartTransportModule(); }

void TcpLibraryModule::Shutdown() { StopTransportModule(); }
