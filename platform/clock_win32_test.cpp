#include <windows.h>

#include <gtest/gtest.h>

#include "platform/clock.h"

namespace {

TEST(UserTimeSeparatorTest, IsTheUsersLocaleSetting) {
  char expected[16];
  int length = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, expected, sizeof expected);
  ASSERT_GT(length, 0);
  EXPECT_EQ(std::optional<std::string>(expected), UserTimeSeparator());
}

TEST(LocalNowTest, AgreesWithTheSystemsLocalTime) {
  SYSTEMTIME before, after;
  GetLocalTime(&before);
  LocalDateTime now = LocalNow();
  GetLocalTime(&after);
  EXPECT_TRUE(now.year == before.wYear || now.year == after.wYear);
  EXPECT_TRUE(now.day == before.wDay || now.day == after.wDay);
  int ms = ((now.hour * 60 + now.minute) * 60 + now.second) * 1000 + now.millisecond;
  int low =
      ((before.wHour * 60 + before.wMinute) * 60 + before.wSecond) * 1000 + before.wMilliseconds;
  int high = ((after.wHour * 60 + after.wMinute) * 60 + after.wSecond) * 1000 + after.wMilliseconds;
  if (high >= low) {  // not across midnight
    EXPECT_GE(ms, low);
    EXPECT_LE(ms, high);
  }
}

}  // namespace
