#include "monitor/time_stamp.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "runtime/runtime_errors.h"

namespace {

constexpr std::int64_t kMillisecondsPerDay = std::int64_t{24} * 60 * 60 * 1000;

// REQUIRES: 0 <= value < 10^width (a part of the time of day). Written
// digit by digit into place: a stamp opens every request line and report,
// and formatting through the C library, or appending piece by piece, cost
// more than the rest of the stamp.
char* PutPadded(char* out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

char* PutSeparator(char* out, std::string_view separator) {
  // The separator is one byte but for tests and odd locales.
  if (separator.size() == 1) {
    *out = separator[0];
    return out + 1;
  }
  return std::copy(separator.begin(), separator.end(), out);
}

}  // namespace

TDateTime EncodeDateTime(const LocalDateTime& moment) {
  using namespace std::chrono;
  constexpr sys_days kEpoch = year{1899} / December / 30;
  sys_days date = year{moment.year} / moment.month / moment.day;
  double days = static_cast<double>((date - kEpoch).count());
  double milliseconds =
      ((moment.hour * 60.0 + moment.minute) * 60.0 + moment.second) * 1000.0 + moment.millisecond;
  double fraction = milliseconds / kMillisecondsPerDay;
  return days >= 0 ? days + fraction : days - fraction;
}

TDateTime Now() { return EncodeDateTime(LocalNow()); }

std::string EffectiveTimeSeparator(const std::optional<std::string>& locale_separator) {
  // The log is 8-bit text, so a character is a byte here: a separator that is
  // one character of several bytes in the locale's encoding counts as longer
  // (it is usually a word such as an hour mark, not a separator at all).
  if (!locale_separator || locale_separator->size() > 1) return ":";
  return *locale_separator;
}

const std::string& ProcessTimeSeparator() {
  static const std::string separator = EffectiveTimeSeparator(UserTimeSeparator());
  return separator;
}

std::string TimeStamp(TDateTime moment, std::string_view separator) {
  if (moment == kCurrentMoment) moment = Now();
  // Past about 10^8 days the value no longer has millisecond resolution.
  if (!std::isfinite(moment) || std::fabs(moment) > 1e8) throw EInvalidOp();
  std::int64_t total = std::llround(moment * kMillisecondsPerDay);
  std::int64_t of_day = std::llabs(total) % kMillisecondsPerDay;
  int millisecond = static_cast<int>(of_day % 1000);
  int second = static_cast<int>(of_day / 1000 % 60);
  int minute = static_cast<int>(of_day / 60000 % 60);
  int hour = static_cast<int>(of_day / 3600000);
  // "hh:mm:ss.zzz": nine digits and the dot, and the separator twice.
  std::string text(10 + 2 * separator.size(), '0');
  char* out = text.data();
  out = PutPadded(out, hour, 2);
  out = PutSeparator(out, separator);
  out = PutPadded(out, minute, 2);
  out = PutSeparator(out, separator);
  out = PutPadded(out, second, 2);
  *out++ = '.';
  PutPadded(out, millisecond, 3);
  return text;
}

std::string TimeStamp(TDateTime moment) { return TimeStamp(moment, ProcessTimeSeparator()); }
