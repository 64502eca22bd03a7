#pragma once

#include <string>
#include <string_view>

// Comparing a monitor log byte for byte, with only the time stamps left out.
// A stamp reads hh:mm:ss.zzz (the C locale's ':' as separator); the mask has
// the same length, so offsets in a masked log are offsets in the raw one.

namespace e2e {

/// What a time stamp looks like in an expected log.
inline constexpr char kStamp[] = "hh:mm:ss.zzz";

/// Replaces every time stamp (two digits, ':', two digits, ':', two digits,
/// '.', three digits, with hours 00-23 and minutes and seconds 00-59) by
/// kStamp. Anything else, a malformed stamp included, stays as it is.
std::string MaskTimeStamps(std::string_view log);

/// Empty when `actual`, masked, is the start of `expected`; otherwise a text
/// that shows where they part. A stamp cut off by the end of `actual` (as in a
/// log written in blocks) matches the start of kStamp when its digits and
/// separators are where a stamp has them.
std::string PrefixMismatch(std::string_view expected, std::string_view actual);

/// The text with CR, LF, NUL and other control or 8-bit bytes written as
/// escapes, for readable failures; with `line_breaks`, a real line break
/// follows each "\n".
std::string Visible(std::string_view text, bool line_breaks = true);

/// Milliseconds since midnight of the stamp that starts at `at` in `log`, or
/// -1 when no stamp starts there.
int StampMilliseconds(std::string_view log, size_t at);

}  // namespace e2e
