#pragma once

// The texts of processor-fault errors, the same on every system; each
// system's fault handling only finds the facts they are made from.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/code_address.h"
#include "platform/processor_fault.h"

/// Room for a fault's message with its NUL; a longer one (a module name of
/// extreme length) is cut.
inline constexpr std::size_t kFaultTextSize = 512;

/// Writes a fault's message into an area of its own, with no allocation and
/// no formatting call of the C library, so that a fault handler can describe
/// a fault while memory is exhausted or the heap's lock is held. The message
/// stays valid until the next one is written here.
class FaultText {
 public:
  /// "Access violation at address %p in module '%s'. %s of address %p", or
  /// without the module part when the code address lies in no module.
  std::string_view AccessViolation(CodeAddress code_address, bool write, CodeAddress data_address);

  /// "External exception %X" with the fault code.
  std::string_view ExternalException(std::uint32_t code);

 private:
  void Start() { size_ = 0; }
  void Append(std::string_view piece);
  std::string_view Text() const { return std::string_view(text_, size_); }

  char text_[kFaultTextSize] = {};
  std::size_t size_ = 0;
  CodeModule module_;  // too large for a signal stack
};

/// A fault of an error class whose message is always the same.
template <typename Error>
ProcessorFault FixedFault(std::uint8_t runtime_error_number) {
  return {Error::kClassName, Error::kFixedText, runtime_error_number};
}
