#pragma once

#include <cstdint>
#include <string_view>

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
