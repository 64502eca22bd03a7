#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

/// A date-time value: days since 30 December 1899 00:00, the time of day
/// being the fraction. Before that day the fraction still counts forward
/// from midnight (-1.25 is 29 December 1899, 06:00).
using TDateTime = double;

/// The moment that stands for "now" where a date-time is expected.
inline constexpr TDateTime kCurrentMoment = -1;

/// The date-time value of a local clock reading.
TDateTime EncodeDateTime(const LocalDateTime& moment);

/// The current local date and time.
TDateTime Now();

/// The separator that time stamps use, given what the locale says: its one
/// character; none when the locale has an empty one; ":" when it is longer or
/// could not be read.
std::string EffectiveTimeSeparator(const std::optional<std::string>& locale_separator);

/// The separator of this process, read from the user's locale settings by the
/// first call (a start-up step makes that call) and never again.
const std::string& ProcessTimeSeparator();

/// The time of day of `moment` as "hh:mm:ss.zzz": 24-hour, rounded to the
/// nearest millisecond, `separator` in place of each colon, always "." before
/// the milliseconds. `kCurrentMoment` means the current local time. Raises
/// EInvalidOp for a value that is not a finite number.
std::string TimeStamp(TDateTime moment, std::string_view separator);

/// The same with the process's separator.
std::string TimeStamp(TDateTime moment = kCurrentMoment);
