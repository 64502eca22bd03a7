#include "tests/e2e/log_mask.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace e2e {

namespace {

constexpr size_t kStampSize = sizeof kStamp - 1;

bool Digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Whether `text` fits the start of a stamp: digits where kStamp has letters,
// the separators where it has them.
bool FitsStampStart(std::string_view text) {
  for (size_t i = 0; i < text.size() && i < kStampSize; ++i) {
    const char shape = kStamp[i];
    if (shape == ':' || shape == '.' ? text[i] != shape : !Digit(text[i])) return false;
  }
  return text.size() <= kStampSize;
}

int Number(std::string_view text, size_t at, size_t digits) {
  int value = 0;
  for (size_t i = 0; i < digits; ++i) value = value * 10 + (text[at + i] - '0');
  return value;
}

}  // namespace

int StampMilliseconds(std::string_view log, size_t at) {
  if (at > log.size() || log.size() - at < kStampSize) return -1;
  if (!FitsStampStart(log.substr(at, kStampSize))) return -1;
  const int hour = Number(log, at, 2), minute = Number(log, at + 3, 2),
            second = Number(log, at + 6, 2), milli = Number(log, at + 9, 3);
  if (hour > 23 || minute > 59 || second > 59) return -1;
  return ((hour * 60 + minute) * 60 + second) * 1000 + milli;
}

std::string MaskTimeStamps(std::string_view log) {
  std::string masked(log);
  for (size_t at = 0; at + kStampSize <= masked.size();) {
    if (StampMilliseconds(log, at) >= 0) {
      masked.replace(at, kStampSize, kStamp);
      at += kStampSize;
    } else {
      ++at;
    }
  }
  return masked;
}

std::string PrefixMismatch(std::string_view expected, std::string_view actual) {
  std::string masked = MaskTimeStamps(actual);
  // A stamp cut at the end of `actual` can't have been masked: do it here.
  const size_t cut_stamp = expected.rfind(kStamp, masked.size());
  if (cut_stamp != std::string_view::npos && cut_stamp < masked.size() &&
      cut_stamp + kStampSize > masked.size() &&
      FitsStampStart(std::string_view(masked).substr(cut_stamp))) {
    masked.replace(cut_stamp, std::string::npos, kStamp, masked.size() - cut_stamp);
  }
  if (masked.size() > expected.size()) {
    return "the log is longer than expected (" + std::to_string(masked.size()) + " > " +
           std::to_string(expected.size()) + " bytes)";
  }
  auto [differs, unused] = std::mismatch(masked.begin(), masked.end(), expected.begin());
  if (differs == masked.end()) return "";
  const size_t at = static_cast<size_t>(differs - masked.begin());
  const size_t from = at > 40 ? at - 40 : 0;
  return "the log parts from the expected one at byte " + std::to_string(at) +
         ":\n  expected: " + Visible(expected.substr(from, 80)) +
         "\n  actual:   " + Visible(std::string_view(masked).substr(from, 80));
}

std::string Visible(std::string_view text, bool line_breaks) {
  std::string shown;
  for (unsigned char c : text) {
    switch (c) {
      case '\r':
        shown += "\\r";
        break;
      case '\n':
        shown += line_breaks ? "\\n\n" : "\\n";
        break;
      case '\0':
        shown += "\\0";
        break;
      case '\\':
        shown += "\\\\";
        break;
      default:
        if (c >= 32 && c < 127) {
          shown += static_cast<char>(c);
        } else {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\x%02X", c);
          shown += escape;
        }
    }
  }
  return shown;
}

}  // namespace e2e
