#include <windows.h>

#include "platform/clock.h"

LocalDateTime LocalNow() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  LocalDateTime result;
  result.year = now.wYear;
  result.month = now.wMonth;
  result.day = now.wDay;
  result.hour = now.wHour;
  result.minute = now.wMinute;
  result.second = now.wSecond;
  result.millisecond = now.wMilliseconds;
  return result;
}

std::optional<std::string> UserTimeSeparator() {
  // The user's own setting, not the process's C library locale: that is
  // "C" unless someone calls setlocale(), and it knows no separator.
  char buffer[16];
  int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, sizeof buffer);
  if (length <= 0) return std::nullopt;  // also a setting longer than the buffer
  return std::string(buffer, static_cast<std::size_t>(length - 1));  // without its NUL
}
