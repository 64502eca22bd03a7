#include "platform/version_query.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <cstring>
#include <string>

namespace {

TEST(QueryOsVersionTest, FillsTheRecordFromTheRunningKernel) {
  OsVersionRecord record;
  ASSERT_EQ(record.size, 148u);
  ASSERT_TRUE(QueryOsVersion(&record));

  struct utsname names;
  ASSERT_EQ(uname(&names), 0);
  std::string expected = std::to_string(record.major_version) + "." +
                         std::to_string(record.minor_version) + "." +
                         std::to_string(record.build_number);
  // The release starts with the three numbers ("6.1.0-13-amd64").
  EXPECT_EQ(std::string(names.release).substr(0, expected.size()), expected);
  EXPECT_GT(record.major_version, 0u);
  EXPECT_EQ(record.platform_id, kPlatformWin32Nt);
  EXPECT_EQ(std::string(record.csd_version),
            std::string(names.version).substr(0, sizeof record.csd_version - 1));
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
