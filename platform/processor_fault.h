#pragma once

#include <cstdint>
#include <string_view>

#include "platform/code_address.h"

/// A processor fault as the runtime shows it: the error class it stands for
/// (the runtime's `EExternal` family), that class's message for it, and the
/// runtime error number of its kind (200 division by zero, 201 range, 202
/// stack overflow, 205 floating-point overflow, 206 underflow, 207 invalid
/// floating-point operation, 215 integer overflow, 216 access violation, 217
/// console interrupt, 218 privileged instruction, 255 any other). The texts
/// are static or lie in the fault handler's own fixed area, which lives until
/// the process ends: describing a fault needs no memory, since the fault may
/// strike while the heap is exhausted or while its lock is held.
struct ProcessorFault {
  std::string_view class_name;
  std::string_view message;
  std::uint8_t runtime_error_number = 255;
};

/// Receives a processor fault and the address of the faulting instruction. It
/// runs on the faulting thread, inside the fault's signal, and must not
/// return: it reports the failure and ends the process. Should it return, the
/// fault gets the system's default treatment (the process dies with the
/// signal).
using ProcessorFaultRoutine = void (*)(const ProcessorFault& fault, CodeAddress code_address);

/// Receives a fault that arrives while a fault is being reported, on the
/// reporting thread itself, or the report's running out of time (it may wait
/// for a lock that the faulting code holds): the runtime error number of the
/// fault's kind (200 division by zero, 201 range, 202 stack overflow, 205
/// floating-point overflow, 206 underflow, 207 invalid floating-point
/// operation, 215 integer overflow, 216 access violation, 218 privileged
/// instruction, 255 any other) and the faulting instruction's address. It runs
/// inside a signal handler while the report may hold any lock: it may only
/// make async-signal-safe calls (no allocation) and must end the process.
/// Without one, the process ends at once with the number as its exit code.
using FaultDuringReportRoutine = void (*)(std::uint8_t runtime_error_number,
                                          CodeAddress code_address);
