#include <gtest/gtest.h>

#include "program/built_in_settings.h"

namespace {

// This executable is given "status.test", 8080, 4096 and 37 by its build.
TEST(BuiltInSettingsTest, ComeFromTheBuild) {
  MonitorSettings settings = BuiltInMonitorSettings();
  EXPECT_EQ("status.test", settings.status_server_host);
  EXPECT_EQ(8080, settings.status_server_port);
  EXPECT_EQ(4096u, settings.received_text_limit);
  EXPECT_EQ(37, settings.dead_path_timeout_s);
}

}  // namespace
