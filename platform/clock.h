#pragma once

#include <optional>
#include <string>
#include <string_view>

/// A moment of the local clock, as the platform gives it.
struct LocalDateTime {
  int year = 0;         // e.g. 2024
  int month = 0;        // 1 to 12
  int day = 0;          // 1 to 31
  int hour = 0;         // 0 to 23
  int minute = 0;       // 0 to 59
  int second = 0;       // 0 to 59 (60 during a leap second)
  int millisecond = 0;  // 0 to 999
};

/// What `LocalNow` returns when the clock can't be read: 1 January 1970,
/// 00:00:00.000. A line stamped then still gets written, stamped
/// 00:00:00.000.
inline constexpr LocalDateTime kUnreadClockMoment{1970, 1, 1, 0, 0, 0, 0};

/// The current local date and time; the milliseconds are those the platform
/// clock reports, not rounded. Never fails: when the local time of the moment
/// can't be worked out it gives the moment in UTC, and when the clock itself
/// can't be read (or neither conversion works) `kUnreadClockMoment`.
LocalDateTime LocalNow();

/// The text between hour and minute in the time format of the user's locale
/// settings (on POSIX the LC_ALL, LC_TIME and LANG settings), or nothing when
/// the settings can't be read. Reads the settings on every call and leaves the
/// process's own locale untouched.
std::optional<std::string> UserTimeSeparator();

/// The literal text between the first hour conversion (%H, %I, %k, %l) and the
/// minute conversion (%M) that follows it in a strftime time format. %T, %R and
/// %X stand for "%H:%M:%S" or "%H:%M"; %r for `am_pm_format`. Nothing when the
/// format has no hour followed by a minute, or another conversion stands
/// between them.
std::optional<std::string> TimeSeparatorOfFormat(std::string_view format,
                                                 std::string_view am_pm_format);
