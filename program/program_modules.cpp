#include "program/program_modules.h"

ProgramModules::ProgramModules()
    : sequence_(
          {&runtime_core_, &error_machinery_, &windowing_, &tcp_library_, &cpu_usage_probe_}) {}
