#include "runtime/runtime_errors.h"

#include <climits>

namespace {

struct FixedIoText {
  int code;
  const char* text;
};

constexpr FixedIoText kFixedIoTexts[] = {
    {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
    {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
    {106, "Invalid numeric input"},
};

const char* FixedTextOf(int error_code) {
  for (const FixedIoText& entry : kFixedIoTexts) {
    if (entry.code == error_code) return entry.text;
  }
  return nullptr;
}

}  // namespace

std::string EInOutError::MessageFor(int error_code) {
  if ((error_code & kIoErrorWithoutFixedText) == 0) {
    if (const char* text = FixedTextOf(error_code)) return text;
  }
  return "I/O error " + std::to_string(error_code & ~kIoErrorWithoutFixedText);
}

bool EInOutError::HasFixedText(int error_code) { return FixedTextOf(error_code) != nullptr; }

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
