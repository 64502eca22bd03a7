// The status monitor program: start-up, the monitor, and the top-level
// handler around them.

#include "monitor/process_end.h"
#include "monitor/program_modules.h"
#include "monitor/run_monitor.h"
#include "platform/code_address.h"

int main() {
  ConsoleMode = true;

  ProgramModules modules;
  StartupSequence& sequence = modules.Sequence();
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
