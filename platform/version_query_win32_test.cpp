#include <windows.h>

#include <gtest/gtest.h>

#include "platform/version_query.h"

namespace {

TEST(QueryOsVersionTest, FillsTheRecordAsTheSystemDoes) {
  OsVersionRecord record;
  ASSERT_EQ(record.size, 148u);
  ASSERT_TRUE(QueryOsVersion(&record));
  OSVERSIONINFOA expected{};
  expected.dwOSVersionInfoSize = sizeof expected;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(GetVersionExA(&expected));
#pragma GCC diagnostic pop
  EXPECT_EQ(record.major_version, expected.dwMajorVersion);
  EXPECT_EQ(record.minor_version, expected.dwMinorVersion);
  EXPECT_EQ(record.build_number, expected.dwBuildNumber);
  EXPECT_EQ(record.platform_id, kPlatformWin32Nt);
  EXPECT_STREQ(record.csd_version, expected.szCSDVersion);
}

TEST(QueryOsVersionTest, ARecordOfAnotherSizeIsRefused) {
  for (std::uint32_t size : {0u, 147u, 149u, 156u}) {
    OsVersionRecord record;
    record.size = size;
    EXPECT_FALSE(QueryOsVersion(&record)) << size;
    EXPECT_EQ(record.major_version, 0u) << "a refused record is not filled in";
  }
  EXPECT_FALSE(QueryOsVersion(nullptr));
}

}  // namespace
