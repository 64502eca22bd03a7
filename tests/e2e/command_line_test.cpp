// The program's command line end to end: the real executable, as built with
// the project's settings, given each kind of argument. A bad command line
// must end the program before anything starts or is written to standard
// output; a server argument must send the monitor there instead of to the
// built-in server.

#include <signal.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "monitor/version.h"
#include "tests/e2e/child_process.h"
#include "tests/e2e/log_helpers.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kProgram = MONITOR_PATH;
const std::string kUsageLine = "Usage: status-monitor [--help] [--version] [HOST[:PORT]]\n";

std::vector<std::string> Argv(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv{kProgram};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return argv;
}

TEST(CommandLineTest, BadArgumentsEndWithTwoAndTheUsageOnStandardError) {
  const struct {
    std::vector<std::string> arguments;
    const char* problem;
  } cases[] = {
      {{""}, "status-monitor: the status server's host is empty in ''\n"},
      {{":9000"}, "status-monitor: the status server's host is empty in ':9000'\n"},
      {{"localhost:0"}, "status-monitor: the port '0' is not a TCP port"},
      {{"localhost:65536"}, "status-monitor: the port '65536' is not a TCP port"},
      {{"localhost:http"}, "status-monitor: the port 'http' is not a TCP port"},
      {{"bad_host"}, "status-monitor: the host 'bad_host' is neither"},
      {{"localhost", "127.0.0.1"}, "status-monitor: one status server at most, but 2"},
      {{"--verbose"}, "status-monitor: unknown option '--verbose'\n"},
      {{"--help", "-x"}, "status-monitor: unknown option '-x'\n"},
  };
  for (const auto& c : cases) {
    ChildProcess child(Argv(c.arguments), StdoutTo::kFile);
    ASSERT_TRUE(child.WaitForExit(10s)) << c.problem;
    EXPECT_EQ(2, child.ExitCode()) << c.problem;
    EXPECT_EQ("", child.Output()) << c.problem;
    const std::string error = child.ErrorOutput();
    EXPECT_EQ(0u, error.find(c.problem)) << error;
    // One line of problem, then the usage.
    EXPECT_EQ(error.find('\n') + 1, error.find(kUsageLine)) << error;
  }
}

// Under the service manager standard error is the journal's stream (standard
// output's, shared): each line of the problem and the usage is an error line.
// With only standard output in the journal, standard error is a file like any
// other and gets the plain text.
TEST(CommandLineTest, BadArgumentsReachTheJournalAsErrors) {
  const std::string plain =
      "status-monitor: the host 'bad_host' is neither a host name (letters, digits, '-' in labels "
      "separated by '.') nor an IPv4 address\n" +
      kUsageLine + "Try 'status-monitor --help' for more information.\n";
  std::string as_errors;
  for (std::size_t start = 0; start < plain.size();) {
    std::size_t end = plain.find('\n', start) + 1;
    as_errors += "<3>" + plain.substr(start, end - start);
    start = end;
  }

  ChildProcess both({"/bin/sh", "-c", "exec \"$0\" bad_host 2>&1", kProgram}, StdoutTo::kJournal);
  ASSERT_TRUE(both.WaitForExit(10s));
  EXPECT_EQ(2, both.ExitCode());
  std::string journal;
  for (const ChildProcess::Write& write : both.Writes()) journal += write.bytes;
  EXPECT_EQ(as_errors, journal);

  ChildProcess output_only(Argv({"bad_host"}), StdoutTo::kJournal);
  ASSERT_TRUE(output_only.WaitForExit(10s));
  EXPECT_EQ(2, output_only.ExitCode());
  EXPECT_TRUE(output_only.Writes().empty());
  EXPECT_EQ(plain, output_only.ErrorOutput());
}

TEST(CommandLineTest, HelpAndVersionPrintOnStandardOutputAndEnd) {
  const struct {
    const char* option;
    std::string output_begins;
  } cases[] = {
      {"--help", kUsageLine},
      {"--version", std::string("status-monitor ") + kProgramVersion + "\n"},
  };
  for (const auto& c : cases) {
    ChildProcess child(Argv({c.option}), StdoutTo::kFile);
    ASSERT_TRUE(child.WaitForExit(10s)) << c.option;
    EXPECT_EQ(0, child.ExitCode()) << c.option;
    EXPECT_EQ(0u, child.Output().find(c.output_begins)) << c.option << ": " << child.Output();
    EXPECT_EQ("", child.ErrorOutput()) << c.option;
  }
}

// The server argument, with and without "--", by name and by address, on a
// port that the kernel chose: the monitor connects there and reports the
// record it is sent, its log otherwise as without an argument.
TEST(CommandLineTest, ServerArgumentIsWhereTheMonitorConnects) {
  const struct {
    const char* option;
    const char* host;
  } cases[] = {
      {nullptr, "localhost"},
      {"--", "127.0.0.1"},
  };
  for (const auto& c : cases) {
    ScriptedServer server({{Expect(kGet), Send(kRecordA), Expect(kGet)}});
    std::vector<std::string> arguments;
    if (c.option != nullptr) arguments.push_back(c.option);
    arguments.push_back(std::string(c.host) + ":" + std::to_string(server.Port()));
    ChildProcess child(Argv(arguments), StdoutTo::kTerminal);
    const std::string expected = kBanner + S + " Connected to " + c.host + "\r\n" + kRequest +
                                 kRecordA + kReportA + kRequest;
    EXPECT_TRUE(child.WaitFor(
        [&](const std::string& output) { return MaskTimeStamps(output) == expected; }, 10s))
        << c.host << ": " << MaskTimeStamps(child.Output());
    EXPECT_TRUE(server.WaitUntilDone(10s)) << c.host;
    EXPECT_TRUE(server.Problems().empty()) << c.host << ": " << server.Problems().front();
    child.Stop(SIGTERM);
    EXPECT_EQ("", child.ErrorOutput()) << c.host;
  }
}

}  // namespace
}  // namespace e2e
