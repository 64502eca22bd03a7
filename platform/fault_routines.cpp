#include "platform/fault_routines.h"

#include <atomic>

#include "runtime/exception.h"

namespace {

std::atomic<ProcessorFaultRoutine> g_routine{nullptr};
std::atomic<FaultDuringReportRoutine> g_during_report{nullptr};

}  // namespace

FaultRoutineInstallation::FaultRoutineInstallation(ProcessorFaultRoutine routine,
                                                   FaultDuringReportRoutine during_report) {
  ProcessorFaultRoutine none = nullptr;
  if (routine == nullptr || !g_routine.compare_exchange_strong(none, routine)) {
    throw Exception("Processor fault handlers are already installed");
  }
  g_during_report.store(during_report);
}

// The routine for a fault during a report stays: a report's own shutdown
// steps remove the installation, and the report may still run out of time
// after that.
FaultRoutineInstallation::~FaultRoutineInstallation() { g_routine.store(nullptr); }

ProcessorFaultRoutine InstalledFaultRoutine() { return g_routine.load(); }

FaultDuringReportRoutine InstalledDuringReportRoutine() { return g_during_report.load(); }
