#include "monitor/runtime_error_line.h"

std::string RuntimeErrorLine(std::uint8_t number, CodeAddress address) {
  std::string line = "Runtime error     at ";
  std::string digits = std::to_string(number);
  constexpr std::size_t kNumberEnd = 17;  // the column of the number's last digit
  line.replace(kNumberEnd - digits.size(), digits.size(), digits);
  return line + FormatAddress(address);
}
