#include <langinfo.h>
#include <locale.h>
#include <time.h>

#include <string>
#include <vector>

#include "platform/clock.h"

namespace {

// One piece of a time format: literal text, or a conversion named by its
// letter (flags, width and the E/O modifiers dropped).
struct FormatPiece {
  char conversion;  // 0 for literal text
  std::string text;
};

void AppendLiteral(std::vector<FormatPiece>* pieces, std::string_view text) {
  if (pieces->empty() || pieces->back().conversion != 0) pieces->push_back({0, ""});
  pieces->back().text.append(text);
}

// Splits `format` into pieces, replacing the composite conversions by what
// they stand for; `depth` stops a format that names itself.
void SplitFormat(std::string_view format, std::string_view am_pm_format, int depth,
                 std::vector<FormatPiece>* pieces) {
  std::size_t i = 0;
  while (i < format.size()) {
    if (format[i] != '%') {
      AppendLiteral(pieces, format.substr(i, 1));
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    while (j < format.size() && std::string_view("_-0^#").find(format[j]) != std::string_view::npos)
      ++j;
    while (j < format.size() && format[j] >= '0' && format[j] <= '9') ++j;
    if (j < format.size() && (format[j] == 'E' || format[j] == 'O')) ++j;
    if (j >= format.size()) {  // a '%' at the end stands for itself
      AppendLiteral(pieces, format.substr(i));
      return;
    }
    char conversion = format[j];
    i = j + 1;
    switch (conversion) {
      case '%':
        AppendLiteral(pieces, "%");
        break;
      case 'n':
        AppendLiteral(pieces, "\n");
        break;
      case 't':
        AppendLiteral(pieces, "\t");
        break;
      case 'T':
      case 'X':
        SplitFormat("%H:%M:%S", am_pm_format, depth + 1, pieces);
        break;
      case 'R':
        SplitFormat("%H:%M", am_pm_format, depth + 1, pieces);
        break;
      case 'r':
        if (depth == 0) {
          SplitFormat(am_pm_format, am_pm_format, depth + 1, pieces);
        } else {
          pieces->push_back({'r', ""});
        }
        break;
      default:
        pieces->push_back({conversion, ""});
    }
  }
}

bool IsHourConversion(char conversion) {
  return conversion == 'H' || conversion == 'I' || conversion == 'k' || conversion == 'l';
}

}  // namespace

LocalDateTime LocalNow() {
  // A reading only labels a log line, so it never raises: a line with a
  // stamp that is plainly no reading beats a lost line. What the C library
  // leaves in its output when a call fails is unspecified, so nothing of a
  // failed call is used.
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return kUnreadClockMoment;
  tm broken_down{};
  // The local conversion fails when the time zone's rules can't be applied
  // to this moment; the same moment in UTC is still the right time of a
  // clock, only of another zone.
  if (localtime_r(&now.tv_sec, &broken_down) == nullptr &&
      gmtime_r(&now.tv_sec, &broken_down) == nullptr) {
    return kUnreadClockMoment;
  }
  LocalDateTime result;
  result.year = broken_down.tm_year + 1900;
  result.month = broken_down.tm_mon + 1;
  result.day = broken_down.tm_mday;
  result.hour = broken_down.tm_hour;
  result.minute = broken_down.tm_min;
  result.second = broken_down.tm_sec;
  result.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return result;
}

std::optional<std::string> UserTimeSeparator() {
  // A locale object of our own instead of setlocale(): the process's locale,
  // and with it number formatting everywhere, stays "C".
  // POSIX spells the missing locale (locale_t)0: locale_t need not be a
  // pointer type.
  // NOLINTBEGIN(modernize-use-nullptr)
  locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return std::nullopt;
  // NOLINTEND(modernize-use-nullptr)
  std::string format = nl_langinfo_l(T_FMT, user);
  std::string am_pm_format = nl_langinfo_l(T_FMT_AMPM, user);
  freelocale(user);
  return TimeSeparatorOfFormat(format, am_pm_format);
}

std::optional<std::string> TimeSeparatorOfFormat(std::string_view format,
                                                 std::string_view am_pm_format) {
  std::vector<FormatPiece> pieces;
  SplitFormat(format, am_pm_format, 0, &pieces);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (!IsHourConversion(pieces[i].conversion)) continue;
    if (i + 1 < pieces.size() && pieces[i + 1].conversion == 'M') return std::string();
    if (i + 2 < pieces.size() && pieces[i + 1].conversion == 0 && pieces[i + 2].conversion == 'M')
      return pieces[i + 1].text;
    return std::nullopt;
  }
  return std::nullopt;
}
