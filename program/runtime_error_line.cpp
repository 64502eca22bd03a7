#include "program/runtime_error_line.h"

std::size_t FormatRuntimeErrorLine(std::uint8_t number, CodeAddress address,
                                   char (&line)[kRuntimeErrorLineSize]) {
  constexpr char kTemplate[] = "Runtime error     at ";
  constexpr std::size_t kPrefixSize = sizeof kTemplate - 1;
  for (std::size_t i = 0; i < kPrefixSize; ++i) line[i] = kTemplate[i];
  // The number's last digit in column 17, that is at index 16.
  std::size_t at = 16;
  do {
    line[at--] = static_cast<char>('0' + number % 10);
    number = static_cast<std::uint8_t>(number / 10);
  } while (number != 0);
  // At least eight uppercase hexadecimal digits, more for a wider address.
  std::size_t digits = 8;
  while (digits < 2 * sizeof(CodeAddress) && (address >> (4 * digits)) != 0) ++digits;
  for (std::size_t i = 0; i < digits; ++i) {
    unsigned nibble = static_cast<unsigned>(address >> (4 * (digits - 1 - i))) & 0xF;
    line[kPrefixSize + i] = "0123456789ABCDEF"[nibble];
  }
  return kPrefixSize + digits;
}

std::string RuntimeErrorLine(std::uint8_t number, CodeAddress address) {
  char line[kRuntimeErrorLineSize];
  return std::string(line, FormatRuntimeErrorLine(number, address, line));
}
