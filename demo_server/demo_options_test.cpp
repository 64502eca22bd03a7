#include "demo_server/demo_options.h"

#include <gtest/gtest.h>

namespace {

TEST(DemoOptionsTest, DefaultsServeTheDemoPortAtASteadyPace) {
  ParsedDemoOptions parsed = ParseDemoOptions({});
  EXPECT_EQ(parsed.error, "");
  EXPECT_FALSE(parsed.help);
  EXPECT_EQ(parsed.options.port, kDemoPort);
  EXPECT_EQ(parsed.options.interval_ms, 1000);
  EXPECT_EQ(parsed.options.close_after, 0);
  EXPECT_EQ(parsed.options.split, 0);
  EXPECT_FALSE(parsed.options.nul);
  EXPECT_FALSE(parsed.options.seed_given);
}

TEST(DemoOptionsTest, ReadsEveryOption) {
  ParsedDemoOptions parsed = ParseDemoOptions({"--port",
                                               "0",
                                               "--interval-ms",
                                               "0",
                                               "--close-after",
                                               "3",
                                               "--reset-after",
                                               "4",
                                               "--split",
                                               "7",
                                               "--split-delay-ms",
                                               "5",
                                               "--nul",
                                               "--garbage",
                                               "--max-connections",
                                               "2",
                                               "--exit-after-ms",
                                               "900",
                                               "--seed",
                                               "4294967295",
                                               "--quiet"});
  ASSERT_EQ(parsed.error, "");
  const DemoOptions& o = parsed.options;
  EXPECT_EQ(o.port, 0);
  EXPECT_EQ(o.interval_ms, 0);
  EXPECT_EQ(o.close_after, 3);
  EXPECT_EQ(o.reset_after, 4);
  EXPECT_EQ(o.split, 7);
  EXPECT_EQ(o.split_delay_ms, 5);
  EXPECT_TRUE(o.nul);
  EXPECT_TRUE(o.garbage);
  EXPECT_EQ(o.max_connections, 2);
  EXPECT_EQ(o.exit_after_ms, 900);
  EXPECT_EQ(o.seed, 4294967295u);
  EXPECT_TRUE(o.seed_given);
  EXPECT_TRUE(o.quiet);
}

TEST(DemoOptionsTest, HelpIsAsked) {
  EXPECT_TRUE(ParseDemoOptions({"--help"}).help);
  EXPECT_TRUE(ParseDemoOptions({"-h"}).help);
}

TEST(DemoOptionsTest, RejectsBadArgumentsNamingThem) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
  };
  const Case cases[] = {
      {{"--bogus"}, "unknown option: --bogus"},
      {{"--port"}, "--port needs a value"},
      {{"--port", "65536"}, "--port: not a number from 0 to 65535: 65536"},
      {{"--port", "-1"}, "--port: not a number from 0 to 65535: -1"},
      {{"--port", "80x"}, "--port: not a number from 0 to 65535: 80x"},
      {{"--port", ""}, "--port: not a number from 0 to 65535: "},
      {{"--split", "0"}, "--split: not a number from 1 to 2147483647: 0"},
      {{"--close-after", "9999999999"},
       "--close-after: not a number from 1 to 2147483647: 9999999999"},
      {{"--nul", "--interval-ms", "ten"}, "--interval-ms: not a number from 0 to 2147483647: ten"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDemoOptions(c.arguments).error, c.error) << c.arguments.front();
  }
}

}  // namespace
