#include "runtime/runtime_errors.h"

#include <climits>

EInOutError::EInOutError(int error_code)
    : Exception(MessageFor(error_code)), error_code_(error_code) {}

std::string EInOutError::MessageFor(int error_code) {
  switch (error_code) {
    case 2:
      return "File not found";
    case 3:
      return "Invalid filename";
    case 4:
      return "Too many open files";
    case 5:
      return "File access denied";
    case 100:
      return "Read beyond end of file";
    case 101:
      return "Disk full";
    case 106:
      return "Invalid numeric input";
    default:
      return "I/O error " + std::to_string(error_code);
  }
}

void RaiseOutOfMemory() { throw EOutOfMemory(); }

EConvertError InvalidIntegerError(const std::string& text) {
  return EConvertError("'" + text + "' is not a valid integer value");
}

int StrToInt(const std::string& text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) throw InvalidIntegerError(text);
  long long value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') throw InvalidIntegerError(text);
    value = value * 10 + (c - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) throw InvalidIntegerError(text);
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) throw InvalidIntegerError(text);
  return static_cast<int>(value);
}
