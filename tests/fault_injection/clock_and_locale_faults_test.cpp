// The clock and the locale failing under the monitor's time stamps, through
// the C library seams of clock_and_locale_faults_posix.cpp: a reading never
// fails and never costs a line; it falls back to the moment in UTC when the
// local conversion fails, and to the documented unread-clock moment when the
// clock can't be read; a locale that can't be read gives ":".

#include <stdlib.h>
#include <time.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "monitor/monitor_state.h"
#include "monitor/status_record_report.h"
#include "monitor/testing/fake_console_sink.h"
#include "monitor/text_output.h"
#include "monitor/time_stamp.h"
#include "platform/clock.h"
#include "tests/fault_injection/call_faults.h"

namespace {

// Sets an environment variable for the life of the object.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old;
    setenv(name, value, 1);
  }
  ~ScopedVariable() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

std::string Text(const LocalDateTime& moment) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", moment.year, moment.month,
                moment.day, moment.hour, moment.minute, moment.second, moment.millisecond);
  return text;
}

// A zone half an hour off whole hours and far from UTC, so that a local
// reading and a UTC one never look alike; a rule of its own, so that no time
// zone files are needed.
class ClockFaultTest : public ::testing::Test {
 protected:
  ClockFaultTest() : zone_(std::in_place, "TZ", "XYZ-5:30") { tzset(); }
  ~ClockFaultTest() override {
    zone_.reset();
    tzset();
  }

 private:
  std::optional<ScopedVariable> zone_;
};

// Whether `got` is a reading of some second from `before` to `after` (one
// second of slack either side), broken down in local time or in UTC.
::testing::AssertionResult IsReadingBetween(const LocalDateTime& got, time_t before, time_t after,
                                            bool utc) {
  if (got.millisecond < 0 || got.millisecond > 999) {
    return ::testing::AssertionFailure() << "milliseconds out of range: " << Text(got);
  }
  for (time_t second = before - 1; second <= after + 1; ++second) {
    tm expected{};
    if (utc) {
      gmtime_r(&second, &expected);
    } else {
      localtime_r(&second, &expected);
    }
    if (got.year == expected.tm_year + 1900 && got.month == expected.tm_mon + 1 &&
        got.day == expected.tm_mday && got.hour == expected.tm_hour &&
        got.minute == expected.tm_min && got.second == expected.tm_sec) {
      return ::testing::AssertionSuccess();
    }
  }
  return ::testing::AssertionFailure() << Text(got) << " is no " << (utc ? "UTC" : "local")
                                       << " reading of the seconds " << before << " to " << after;
}

TEST_F(ClockFaultTest, EachCallOfAReadingFailing) {
  enum class Expected { kLocal, kUtc, kUnread };
  struct Case {
    const char* plan;  // nullptr: no fault
    Expected expected;
    std::size_t calls;  // of the clock-read kind
  };
  // The calls of one reading: 1 the wall clock, 2 its local conversion, 3 the
  // UTC conversion (made only when the local one failed).
  const Case cases[] = {
      {nullptr, Expected::kLocal, 2},
      {"clock-read:3", Expected::kLocal, 2},  // a clean reading needs no UTC conversion
      {"clock-read:1", Expected::kUnread, 1},
      {"clock-read:1+", Expected::kUnread, 1},
      {"clock-read:2", Expected::kUtc, 3},
      {"clock-read:2+", Expected::kUnread, 3},  // neither conversion works
      {"locale-read:1+", Expected::kLocal, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plan ? c.plan : "no fault");
    std::optional<CallFaultPlan> plan;
    if (c.plan) plan = CallFaultPlan::Parse(c.plan);
    const time_t before = time(nullptr);
    CallFaults::Start(plan);
    const LocalDateTime got = LocalNow();
    const CallCounts counts = CallFaults::Stop();
    const time_t after = time(nullptr);

    EXPECT_EQ(counts.Of(CallKind::kClockRead), c.calls);
    switch (c.expected) {
      case Expected::kLocal:
        EXPECT_TRUE(IsReadingBetween(got, before, after, false));
        break;
      case Expected::kUtc:
        EXPECT_TRUE(IsReadingBetween(got, before, after, true));
        break;
      case Expected::kUnread:
        EXPECT_EQ(Text(got), Text(kUnreadClockMoment));
        EXPECT_EQ(TimeStamp(EncodeDateTime(got), ":"), "00:00:00.000");
        break;
    }
  }
}

// A report whose stamp is taken while the clock can't be read: every line of
// it, under the stamp of the unread clock, through the monitor's own clock.
// (Fed to the local conversion, the zeroes of a failed read would make it
// 05:30:00.000 here.)
TEST_F(ClockFaultTest, ReportWrittenInFullWhenTheClockCanNotBeRead) {
  FakeConsoleSink sink;
  TextOutput out(sink);
  MonitorServices services;
  services.output = &out;
  services.now = [] { return Now(); };
  services.time_separator = ":";
  MonitorState state(1 << 20);
  for (char byte : std::string("<Event>E1</Event><LogRec.SyslogID>42</LogRec.SyslogID>"
                               "</StatusChange>")) {
    state.ReceivedText.Append(byte);
  }
  CallFaults::Start(CallFaultPlan::Parse("clock-read:1"));
  ReportStatusRecord(state, services);
  const CallCounts counts = CallFaults::Stop();
  EXPECT_EQ(counts.injected, 1u);
  EXPECT_EQ(sink.Written(),
            "\r\n00:00:00.000\r\nSYSLOG.ID: 42\r\nEVENT: E1\r\nDATETIME: \r\nVERSION: \r\n");
  EXPECT_EQ(state.TraceCode, 260);
}

class LocaleFaultTest : public ::testing::Test {
 protected:
  LocaleFaultTest() : locale_("LC_ALL", "C") {}

 private:
  ScopedVariable locale_;
};

TEST_F(LocaleFaultTest, SeparatorWhenTheSettingsCanNotBeRead) {
  struct Case {
    const char* plan;
    std::optional<std::string> read;  // what UserTimeSeparator gives
  };
  const Case cases[] = {
      {nullptr, ":"},  // the C locale's own
      {"locale-read:2", ":"}, {"locale-read:1", std::nullopt}, {"locale-read:1+", std::nullopt},
      {"clock-read:1+", ":"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.plan ? c.plan : "no fault");
    std::optional<CallFaultPlan> plan;
    if (c.plan) plan = CallFaultPlan::Parse(c.plan);
    CallFaults::Start(plan);
    const std::optional<std::string> read = UserTimeSeparator();
    const CallCounts counts = CallFaults::Stop();
    EXPECT_EQ(counts.Of(CallKind::kLocaleRead), 1u);
    EXPECT_EQ(read, c.read);
    EXPECT_EQ(EffectiveTimeSeparator(read), ":");
  }
}

}  // namespace
