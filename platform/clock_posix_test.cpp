#include "platform/clock.h"

#include <stdlib.h>
#include <time.h>

#include <gtest/gtest.h>

namespace {

struct SeparatorCase {
  const char* format;
  const char* am_pm_format;
  std::optional<std::string> separator;
};

TEST(TimeSeparatorOfFormatTest, Table) {
  const SeparatorCase cases[] = {
      {"%H:%M:%S", "", ":"},
      {"%T", "", ":"},
      {"%R", "", ":"},
      {"%X", "", ":"},
      {"%r", "%I:%M:%S %p", ":"},
      {"%r", "%I.%M.%S %p", "."},
      {"%H.%M.%S", "", "."},
      {"%k.%M", "", "."},
      {"%l:%M %p", "", ":"},
      {"%p %I:%M:%S", "", ":"},  // a conversion before the hour
      {"%-H h %M", "", " h "},   // flags; a longer separator
      {"%OH:%OM", "", ":"},      // alternative digits
      {"%H%M%S", "", ""},        // no separator at all
      {"%H%%%M", "", "%"},
      {"%H%n%M", "", "\n"},
      {"%S", "", std::nullopt},        // no hour
      {"%H", "", std::nullopt},        // no minute
      {"%H:%S:%M", "", std::nullopt},  // another conversion between
      {"", "", std::nullopt},
      {"%r", "%r", std::nullopt},  // names itself
      {"%H:", "", std::nullopt},
      {"%", "", std::nullopt},
  };
  for (const SeparatorCase& c : cases) {
    EXPECT_EQ(c.separator, TimeSeparatorOfFormat(c.format, c.am_pm_format))
        << "format '" << c.format << "' am/pm '" << c.am_pm_format << "'";
  }
}

class UserTimeSeparatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("LC_ALL");
    had_ = old != nullptr;
    if (had_) old_ = old;
  }
  void TearDown() override {
    if (had_) {
      setenv("LC_ALL", old_.c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST_F(UserTimeSeparatorTest, ReadsTheLocaleNamedBySettings) {
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(std::optional<std::string>(":"), UserTimeSeparator());
}

TEST_F(UserTimeSeparatorTest, UnknownLocaleCannotBeRead) {
  setenv("LC_ALL", "xx_NOWHERE.bogus", 1);
  EXPECT_EQ(std::nullopt, UserTimeSeparator());
}

TEST(LocalNowTest, AgreesWithTheSystemClock) {
  time_t before = time(nullptr);
  LocalDateTime now = LocalNow();
  time_t after = time(nullptr);
  tm low{}, high{};
  localtime_r(&before, &low);
  localtime_r(&after, &high);
  EXPECT_TRUE(now.year == low.tm_year + 1900 || now.year == high.tm_year + 1900);
  EXPECT_TRUE(now.day == low.tm_mday || now.day == high.tm_mday);
  int seconds = now.hour * 3600 + now.minute * 60 + now.second;
  int low_seconds = low.tm_hour * 3600 + low.tm_min * 60 + low.tm_sec;
  int high_seconds = high.tm_hour * 3600 + high.tm_min * 60 + high.tm_sec;
  if (high_seconds >= low_seconds) {  // not across midnight
    EXPECT_GE(seconds, low_seconds);
    EXPECT_LE(seconds, high_seconds);
  }
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

}  // namespace
