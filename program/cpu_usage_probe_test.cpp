#include "program/cpu_usage_probe.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/exception.h"

namespace {

// Version queries that stand in for the platform's; each checks the record
// size the probe set before answering.
bool FailingQuery(OsVersionRecord* record) {
  EXPECT_EQ(record->size, 148u);
  return false;
}
bool NtQuery(OsVersionRecord* record) {
  EXPECT_EQ(record->size, 148u);
  record->platform_id = kPlatformWin32Nt;
  return true;
}
bool OlderFamilyQuery(OsVersionRecord* record) {
  record->platform_id = kPlatformWin32Windows;
  return true;
}

TEST(CpuUsageProbeTest, StartupPreparesTheBufferAndTheFamilyFlag) {
  struct Case {
    OsVersionQuery query;
    bool nt_family;
  } cases[] = {{NtQuery, true}, {OlderFamilyQuery, false}, {QueryOsVersion, true}};
  for (const Case& c : cases) {
    CpuUsageProbe probe(c.query);
    EXPECT_EQ(probe.ProbeBuffer(), nullptr);
    probe.Startup();
    ASSERT_NE(probe.ProbeBuffer(), nullptr);
    const unsigned char* begin = probe.ProbeBuffer();
    EXPECT_TRUE(std::all_of(begin, begin + CpuUsageProbe::kProbeBufferSize,
                            [](unsigned char b) { return b == 0; }));
    EXPECT_EQ(probe.IsNtFamily(), c.nt_family);
    probe.Shutdown();
    EXPECT_EQ(probe.ProbeBuffer(), nullptr);
  }
}

TEST(CpuUsageProbeTest, AFailingVersionQueryIsAStartupFailureAndShutdownReleases) {
  CpuUsageProbe probe(FailingQuery);
  StartupSequence sequence({&probe});
  try {
    sequence.RunStartup();
    FAIL() << "no failure";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "Exception");
    EXPECT_EQ(e.Message(), "Can't get the Windows version");
  }
  // The sequence ran the probe's shutdown step before passing the failure on.
  EXPECT_EQ(probe.ProbeBuffer(), nullptr);
  EXPECT_FALSE(probe.IsNtFamily());
}

TEST(CpuUsageProbeTest, ShutdownWithoutStartupDoesNothing) {
  CpuUsageProbe probe(NtQuery);
  probe.Shutdown();
  EXPECT_EQ(probe.ProbeBuffer(), nullptr);
}

}  // namespace
