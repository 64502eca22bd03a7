#include "platform/fault_text.h"

#include <algorithm>

void FaultText::Append(std::string_view piece) {
  std::size_t room = sizeof text_ - 1 - size_;
  std::size_t taken = std::min(room, piece.size());
  std::copy_n(piece.data(), taken, text_ + size_);
  size_ += taken;
  text_[size_] = '\0';
}

std::string_view FaultText::AccessViolation(CodeAddress code_address, bool write,
                                            CodeAddress data_address) {
  char address[kAddressTextSize];
  Start();
  Append("Access violation at address ");
  FormatAddress(code_address, address);
  Append(address);
  if (FindCodeModule(code_address, &module_)) {
    Append(" in module '");
    Append(ModuleBaseName(module_.file_name));
    Append("'");
  }
  Append(write ? ". Write" : ". Read");
  Append(" of address ");
  FormatAddress(data_address, address);
  Append(address);
  return Text();
}

std::string_view FaultText::ExternalException(std::uint32_t code) {
  // Uppercase hexadecimal without leading zeros.
  char digits[8];
  std::size_t count = 0;
  do {
    digits[count++] = "0123456789ABCDEF"[code & 0xF];
    code >>= 4;
  } while (code != 0);
  std::reverse(digits, digits + count);
  Start();
  Append("External exception ");
  Append(std::string_view(digits, count));
  return Text();
}
