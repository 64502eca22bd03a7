#include "monitor/time_stamp.h"

#include <cmath>
#include <regex>

#include <gtest/gtest.h>

#include "runtime/runtime_errors.h"

namespace {

constexpr double kMsPerDay = 86400000.0;

TDateTime At(int hour, int minute, int second, int millisecond) {
  return EncodeDateTime({2024, 3, 5, hour, minute, second, millisecond});
}

TEST(EncodeDateTimeTest, CountsDaysFromTheEpochWithTheTimeAsFraction) {
  EXPECT_EQ(0.0, EncodeDateTime({1899, 12, 30, 0, 0, 0, 0}));
  EXPECT_EQ(2.0, EncodeDateTime({1900, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(36526.5, EncodeDateTime({2000, 1, 1, 12, 0, 0, 0}));
  EXPECT_EQ(-1.25, EncodeDateTime({1899, 12, 29, 6, 0, 0, 0}));
}

TEST(TimeStampTest, Formats) {
  struct Case {
    TDateTime moment;
    const char* separator;
    const char* stamp;
  };
  const Case cases[] = {
      {At(9, 5, 3, 7), ":", "09:05:03.007"},
      {At(9, 5, 3, 7), ".", "09.05.03.007"},
      {At(9, 5, 3, 7), "", "090503.007"},
      {At(0, 0, 0, 0), ":", "00:00:00.000"},
      {At(13, 0, 0, 0), ":", "13:00:00.000"},
      {At(23, 59, 59, 999), ":", "23:59:59.999"},
      {At(12, 34, 56, 780), ":", "12:34:56.780"},
      {-2.5, ":", "12:00:00.000"},  // before the epoch the time still counts forward
      {0.0, ":", "00:00:00.000"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.stamp, TimeStamp(c.moment, c.separator)) << c.moment;
  }
}

TEST(TimeStampTest, RoundsToTheNearestMillisecond) {
  double day = std::floor(At(0, 0, 0, 0));
  EXPECT_EQ("10:00:00.123", TimeStamp(day + (36000123 + 0.4) / kMsPerDay, ":"));
  EXPECT_EQ("10:00:00.124", TimeStamp(day + (36000123 + 0.6) / kMsPerDay, ":"));
  EXPECT_EQ("00:00:00.000", TimeStamp(day + (kMsPerDay - 0.3) / kMsPerDay, ":"));  // next day
}

TEST(TimeStampTest, CurrentMomentIsTheLocalTimeNow) {
  std::string stamp = TimeStamp(kCurrentMoment, ":");
  ASSERT_TRUE(std::regex_match(stamp, std::regex(R"(\d\d:\d\d:\d\d\.\d\d\d)"))) << stamp;
  LocalDateTime now = LocalNow();
  int stamp_seconds = std::stoi(stamp.substr(0, 2)) * 3600 + std::stoi(stamp.substr(3, 2)) * 60 +
                      std::stoi(stamp.substr(6, 2));
  int now_seconds = now.hour * 3600 + now.minute * 60 + now.second;
  int gap = (now_seconds - stamp_seconds + 86400) % 86400;
  EXPECT_LE(gap, 2);
}

TEST(TimeStampTest, ValueThatIsNoNumberRaises) {
  EXPECT_THROW(TimeStamp(std::nan(""), ":"), EInvalidOp);
  EXPECT_THROW(TimeStamp(INFINITY, ":"), EInvalidOp);
}

TEST(EffectiveTimeSeparatorTest, Rules) {
  EXPECT_EQ(":", EffectiveTimeSeparator(std::nullopt));
  EXPECT_EQ("", EffectiveTimeSeparator(std::string()));
  EXPECT_EQ(".", EffectiveTimeSeparator(std::string(".")));
  EXPECT_EQ(":", EffectiveTimeSeparator(std::string(" h ")));
  EXPECT_EQ(":",
            EffectiveTimeSeparator(std::string("\xe6\x99\x82")));  // one character, three bytes
}

}  // namespace
