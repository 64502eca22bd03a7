#include "program/process_modules.h"

#include <cstdlib>
#include <new>

#include "monitor/application.h"
#include "monitor/text_output.h"
#include "monitor/time_stamp.h"
#include "program/failure_report.h"
#include "program/process_end.h"
#include "program/runtime_error_line.h"
#include "runtime/runtime_errors.h"
#include "transport/transport_module.h"

namespace {

// The report routine is there exactly while the error machinery is in place;
// without it a fault ends the process as the runtime error of its kind.
void OnProcessorFault(const ProcessorFault& fault, CodeAddress code_address) {
  if (UncaughtFailureHook == nullptr) RuntimeErrorEnd(fault.runtime_error_number, code_address);
  HandleUncaughtFailure(FailureDescription{fault.class_name, fault.message, code_address},
                        code_address);
}

// A fault inside the report of a fault, or a fault report that hangs: the
// report's state can't be trusted, so no shutdown step runs and the log's
// buffer stays where it is. The runtime-error line of the fault's kind goes
// straight to standard output in one write; signal-safe throughout.
void OnFaultDuringReport(std::uint8_t number, CodeAddress code_address) {
  char line[kRuntimeErrorLineSize];
  std::size_t size = FormatRuntimeErrorLine(number, code_address, line);
  line[size++] = '\r';
  line[size++] = '\n';
  ConsoleSink& output = StandardStreamSink(StandardStream::kOutput);
  if (output.Open() == 0) output.Write(line, size);
  EndProcessNow(number);
}

// A failure that leaves the body of a thread other than the main one (whose
// failures main() takes) ends up here: it gets the same top-level treatment.
// Without a failure in flight, termination keeps the language's default.
[[noreturn]] void OnTerminate() {
  if (std::current_exception()) {
    HandleCurrentFailure(CurrentCodeAddress());
  }
  std::abort();
}

}  // namespace

void ReportUncaughtFailure(const FailureDescription& failure, CodeAddress code_address) {
  if (ConsoleMode) {
    WriteFailureReport(StandardOutput(), StandardStreamSink(StandardStream::kError), failure,
                       code_address);
  }
  EndProcess(1);
}

RuntimeCoreModule::RuntimeCoreModule() = default;
RuntimeCoreModule::~RuntimeCoreModule() = default;

void RuntimeCoreModule::Startup() {
  StandardOutput();  // made now, opened by the first write
  fault_handlers_ = ProcessorFaultHandlers::Install(OnProcessorFault, OnFaultDuringReport);
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
  installed_ = true;
  previous_new_handler_ = std::set_new_handler(RaiseOutOfMemory);
  UncaughtFailureHook = ReportUncaughtFailure;
  ProcessTimeSeparator();  // the locale's settings, read this once
}

void ErrorMachineryModule::Shutdown() {
  UncaughtFailureHook = nullptr;
  if (installed_) {
    std::set_terminate(previous_terminate_);
    std::set_new_handler(previous_new_handler_);
    installed_ = false;
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
