#include <gtest/gtest.h>

#include "monitor/run_monitor.h"

namespace {

// This executable is given "status.test", 8080 and 4096 by its build.
TEST(BuiltInSettingsTest, ComeFromTheBuild) {
  MonitorSettings settings = BuiltInMonitorSettings();
  EXPECT_EQ("status.test", settings.status_server_host);
  EXPECT_EQ(8080, settings.status_server_port);
  EXPECT_EQ(4096u, settings.received_text_limit);
}

}  // namespace
