// The clock and locale seams of the fault-injection sweeps on POSIX systems:
// this test program's own clock_gettime, localtime_r, gmtime_r and newlocale
// stand in front of the C library's, ask the plan first, and fail as the C
// library does.
//
// A reading of the local time is one "clock-read" kind, not one kind per
// call: the calls of one reading come in a fixed order (the wall clock, its
// local conversion, and only when that fails the UTC one), so the count of
// the kind names each of them ("clock-read:2" fails the local conversion of
// the first reading), and "clock-read:1+" is a clock that is gone for good.
//
// Only the wall clock counts: the monotonic clock times pauses and tests,
// and is no reading of the time of day.

#include <dlfcn.h>
#include <locale.h>
#include <time.h>

#include <cerrno>

#include "tests/fault_injection/call_faults.h"

namespace {

// The next definition of `name`: the C library's (or a sanitizer's in front
// of it).
template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" int clock_gettime(clockid_t clock, struct timespec* reading) {
  using ClockGettime = int (*)(clockid_t, struct timespec*);
  static const auto next = Next<ClockGettime>("clock_gettime");
  if (clock == CLOCK_REALTIME && CallFaults::Fails(CallKind::kClockRead)) {
    errno = EINVAL;
    return -1;
  }
  return next(clock, reading);
}

namespace {

using Conversion = struct tm* (*)(const time_t*, struct tm*);

// A conversion of a clock reading to its parts, failing as the C library
// does for a moment it can't convert.
struct tm* PlannedConversion(Conversion next, const time_t* moment, struct tm* broken_down) {
  if (CallFaults::Fails(CallKind::kClockRead)) {
    errno = EOVERFLOW;
    return nullptr;
  }
  return next(moment, broken_down);
}

}  // namespace

extern "C" struct tm* localtime_r(const time_t* moment, struct tm* broken_down) {
  static const auto next = Next<Conversion>("localtime_r");
  return PlannedConversion(next, moment, broken_down);
}

extern "C" struct tm* gmtime_r(const time_t* moment, struct tm* broken_down) {
  static const auto next = Next<Conversion>("gmtime_r");
  return PlannedConversion(next, moment, broken_down);
}

extern "C" locale_t newlocale(int categories, const char* name, locale_t base) {
  using NewLocale = locale_t (*)(int, const char*, locale_t);
  static const auto next = Next<NewLocale>("newlocale");
  if (CallFaults::Fails(CallKind::kLocaleRead)) {
    errno = ENOENT;
    return static_cast<locale_t>(0);  // NOLINT(modernize-use-nullptr): need not be a pointer
  }
  return next(categories, name, base);
}
