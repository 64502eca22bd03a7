// The status monitor program: start-up, the monitor, and the top-level
// handler around them.

#include "monitor/cpu_usage_probe.h"
#include "monitor/process_end.h"
#include "monitor/process_modules.h"
#include "monitor/run_monitor.h"
#include "monitor/startup_sequence.h"
#include "platform/code_address.h"

int main() {
  ConsoleMode = true;

  // The start-up sequence, in its fixed order. Modules that have nothing to
  // do in this program are left out: the component library (C++ classes need
  // no registration; the main thread's message queue comes with the
  // application object) and the utilities of time stamps and markers (no
  // start-up work). The modules live until the process ends, which it does
  // without returning from here.
  RuntimeCoreModule runtime_core;
  ErrorMachineryModule error_machinery;
  WindowingModule windowing;
  TcpLibraryModule tcp_library;
  CpuUsageProbe cpu_usage_probe;
  StartupSequence sequence(
      {&runtime_core, &error_machinery, &windowing, &tcp_library, &cpu_usage_probe});
  SetProcessStartupSequence(&sequence);

  // The top-level handler of the main thread. A failed start-up step has had
  // the shutdown steps run already, the error machinery's among them, so it
  // ends as runtime error 217; a failure that escapes the monitor is
  // reported and ends with exit code 1. The address shown is where the
  // failure was raised; for a raised object that carries none, where it was
  // taken here.
  try {
    sequence.RunStartup();
    RunMonitor();
  } catch (...) {
    HandleCurrentFailure(CurrentCodeAddress());
  }
  // The monitor has no exit of its own; should it ever return, end in order.
  EndProcess(0);
}
