#include "program/command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "monitor/version.h"

namespace {

using Action = CommandLine::Action;

MonitorSettings BuiltIn() {
  MonitorSettings settings;
  settings.status_server_host = "status.example";
  settings.status_server_port = 8080;
  settings.received_text_limit = 4096;
  return settings;
}

CommandLine Read(const std::vector<std::string_view>& arguments) {
  return ReadCommandLine(arguments, BuiltIn());
}

TEST(CommandLineTest, ServerArgumentOverridesTheBuiltInOne) {
  const std::string longest_label = std::string(63, 'x') + ".y";
  const struct {
    std::vector<std::string_view> arguments;
    const char* host;
    int port;
  } cases[] = {
      {{}, "status.example", 8080},
      {{"localhost"}, "localhost", 8080},
      {{"localhost:1"}, "localhost", 1},
      {{"localhost:65535"}, "localhost", 65535},
      {{"127.0.0.1:9000"}, "127.0.0.1", 9000},
      {{"0.0.0.0"}, "0.0.0.0", 8080},
      {{"255.255.255.255:80"}, "255.255.255.255", 80},
      {{"status-1.example.org.:443"}, "status-1.example.org.", 443},
      {{"a"}, "a", 8080},
      {{"1a.2b"}, "1a.2b", 8080},
      {{longest_label}, nullptr, 8080},
      {{"--", "localhost:9"}, "localhost", 9},
  };
  for (const auto& c : cases) {
    std::string shown = c.arguments.empty() ? "(none)" : std::string(c.arguments.back());
    CommandLine line = Read(c.arguments);
    ASSERT_EQ(Action::kRun, line.action) << shown << ": " << line.problem;
    EXPECT_EQ(c.host != nullptr ? std::string(c.host) : shown, line.settings.status_server_host)
        << shown;
    EXPECT_EQ(c.port, line.settings.status_server_port) << shown;
    EXPECT_EQ(4096u, line.settings.received_text_limit) << shown;
    EXPECT_EQ("", line.problem) << shown;
  }
}

TEST(CommandLineTest, BadArgumentsAreNamedInOneLine) {
  const std::string long_label(64, 'x');
  const std::string long_name = std::string(250, 'a') + ".bcd";  // 254 characters
  const struct {
    std::vector<std::string_view> arguments;
    const char* problem;
  } cases[] = {
      {{""}, "the status server's host is empty in ''"},
      {{":80"}, "the status server's host is empty in ':80'"},
      {{"localhost:"}, "the port '' is not a TCP port"},
      {{"localhost:0"}, "the port '0' is not a TCP port"},
      {{"localhost:65536"}, "the port '65536' is not a TCP port"},
      {{"localhost:080"}, "the port '080' is not a TCP port"},
      {{"localhost:-1"}, "the port '-1' is not a TCP port"},
      {{"localhost:+80"}, "the port '+80' is not a TCP port"},
      {{"localhost:99999999999"}, "the port '99999999999' is not a TCP port"},
      {{"localhost:80:81"}, "the host 'localhost:80' is neither"},
      {{"[::1]:80"}, "the host '[::1]' is neither"},
      {{"-"}, "the host '-' is neither"},
      {{"a..b"}, "the host 'a..b' is neither"},
      {{"-a.b"}, "unknown option '-a.b'"},
      {{"a-.b"}, "the host 'a-.b' is neither"},
      {{"a_b"}, "the host 'a_b' is neither"},
      {{"a b"}, "the host 'a b' is neither"},
      {{"host\n"}, "the host 'host\\x0a' is neither"},
      {{long_label}, "is neither"},
      {{long_name}, "is neither"},
      {{"256.1.1.1"}, "the host '256.1.1.1' is neither"},
      {{"1.2.3"}, "the host '1.2.3' is neither"},
      {{"1.2.3.4.5"}, "the host '1.2.3.4.5' is neither"},
      {{"01.2.3.4"}, "the host '01.2.3.4' is neither"},
      {{"."}, "the host '.' is neither"},
      {{"a", "b"}, "one status server at most, but 2 arguments were given"},
      {{"localhost", "--", "b"}, "one status server at most, but 2 arguments were given"},
      {{"-h"}, "unknown option '-h'"},
      {{"--verbose"}, "unknown option '--verbose'"},
      {{"--help=yes"}, "unknown option '--help=yes'"},
      {{"--help", "--bad"}, "unknown option '--bad'"},
      {{"--version", ":1"}, "the status server's host is empty in ':1'"},
  };
  for (const auto& c : cases) {
    std::string shown;
    for (std::string_view argument : c.arguments) shown += " [" + std::string(argument) + "]";
    CommandLine line = Read(c.arguments);
    EXPECT_EQ(Action::kBadArguments, line.action) << shown;
    EXPECT_NE(std::string::npos, line.problem.find(c.problem)) << shown << ": " << line.problem;
    EXPECT_EQ(std::string::npos, line.problem.find('\n')) << shown;
  }
}

TEST(CommandLineTest, HelpAndVersionAfterEveryArgumentIsChecked) {
  const struct {
    std::vector<std::string_view> arguments;
    Action action;
  } cases[] = {
      {{"--help"}, Action::kHelp},
      {{"--version"}, Action::kVersion},
      {{"--version", "--help"}, Action::kHelp},
      {{"localhost:80", "--version"}, Action::kVersion},
      {{"--", "--help"}, Action::kBadArguments},  // a host, after "--"
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.action, Read(c.arguments).action) << c.arguments.back();
  }
}

TEST(CommandLineTest, TextsNameTheProgramAndTheBuiltInServer) {
  std::string help = HelpText(BuiltIn());
  EXPECT_EQ(0u, help.find("Usage: status-monitor [--help] [--version] [HOST[:PORT]]\n"));
  EXPECT_NE(std::string::npos, help.find("(built in: status.example)"));
  EXPECT_NE(std::string::npos, help.find("(built in: 8080)"));
  EXPECT_EQ('\n', help.back());
  EXPECT_EQ(std::string::npos, help.find('\r'));

  EXPECT_EQ(
      "status-monitor: unknown option '-x'\n"
      "Usage: status-monitor [--help] [--version] [HOST[:PORT]]\n"
      "Try 'status-monitor --help' for more information.\n",
      BadArgumentsText("unknown option '-x'"));
  // The journal's stream: every line an error line.
  EXPECT_EQ(
      "<3>status-monitor: the host 'a\\x0ab' is neither a host name (letters, digits, '-' in "
      "labels separated by '.') nor an IPv4 address\n"
      "<3>Usage: status-monitor [--help] [--version] [HOST[:PORT]]\n"
      "<3>Try 'status-monitor --help' for more information.\n",
      BadArgumentsText(ReadCommandLine({"a\nb"}, BuiltIn()).problem, /*for_journal=*/true));
  EXPECT_EQ(std::string("status-monitor ") + kProgramVersion + "\n", VersionText());
}

}  // namespace
