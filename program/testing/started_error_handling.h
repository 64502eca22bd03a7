#pragma once

// Test support: the program's runtime core and error machinery, started as
// the program starts them and made the process's start-up sequence. In a
// child process this is the state in which a failure that reaches the
// top-level handler ends the process as it ends the program: the report on
// standard error and exit code 1.

#include "program/process_modules.h"
#include "program/startup_sequence.h"

class StartedErrorHandling {
 public:
  StartedErrorHandling() {
    ConsoleMode = true;  // as the program sets it before its start-up
    sequence_.RunStartup();
    SetProcessStartupSequence(&sequence_);
  }
  StartedErrorHandling(const StartedErrorHandling&) = delete;
  StartedErrorHandling& operator=(const StartedErrorHandling&) = delete;

 private:
  RuntimeCoreModule runtime_core_;
  ErrorMachineryModule error_machinery_;
  StartupSequence sequence_{{&runtime_core_, &error_machinery_}};
};
