// The Windows monitor under Wine, against scripted servers on this host. Its
// standard output goes to a file (Wine's console emulation would rewrite the
// bytes on a terminal), where it arrives in whole 128-byte blocks; the log is
// compared byte for byte with the time stamps masked, as on Linux.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "tests/e2e/child_process.h"
#include "tests/e2e/log_helpers.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

extern char** environ;

namespace e2e {
namespace {

using namespace std::chrono_literals;

const std::string kMonitor = MONITOR_DIR "/status-monitor.exe";
const std::string kMonitorNoVersion = MONITOR_DIR "/status-monitor-e2e-no-version.exe";

struct Scenario {
  const char* name;
  const char* host;  // with the scripted server's port, the monitor's argument
  std::vector<Script> scripts;
  std::string log;  // the start of the expected log, stamps masked
};

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

const Scenario kScenarios[] = {
    {"RefusedConnect", "localhost", {}, kBanner + Times(3, kRefused)},
    {"OneRecord",
     "localhost",
     {{Expect(kGet), Send(kRecordA), Expect(kGet), Close()}},
     kBanner + kConnected + kRequest + kRecordA + kReportA + kRequest + kClosedByPeer +
         kDisconnected + Times(2, kRefused)},
    {"PeerClosesMidRecord",
     "localhost",
     {{Expect(kGet), Send(kRecordA.substr(0, 70)), Close()}},
     kBanner + kConnected + kRequest + kRecordA.substr(0, 70) + kClosedByPeer + kDisconnected +
         Times(2, kRefused)},
    {"UnknownHost", UNKNOWN_HOST, {}, kBanner + Times(3, kUnknownHost)},
};

std::string ScenarioName(const ::testing::TestParamInfo<Scenario>& info) { return info.param.name; }

class WineLogTest : public ::testing::TestWithParam<Scenario> {};

// Stopped from outside, the monitor loses what its 128-byte buffer still
// holds: the file has whole blocks, all of them the expected log's start.
TEST_P(WineLogTest, LogIsExactInWholeBlocks) {
  const Scenario& scenario = GetParam();
  ScriptedServer server(scenario.scripts);
  ChildProcess monitor(
      {WINE_PATH, kMonitor, std::string(scenario.host) + ":" + std::to_string(server.Port())},
      StdoutTo::kFile);
  const size_t blocks = scenario.log.size() / 128 * 128;
  ASSERT_GT(blocks, 0u);
  bool complete =
      monitor.WaitFor([&](const std::string& out) { return out.size() >= blocks; }, 60s);
  monitor.Stop(SIGKILL);

  const std::string& file = monitor.Output();
  EXPECT_TRUE(complete) << Visible(MaskTimeStamps(file));
  for (size_t size : monitor.FileSizesSeen()) EXPECT_EQ(size % 128, 0u) << size;
  // Whatever the monitor wrote after the scenario's log is more of its end.
  const std::string& last_line =
      scenario.host == std::string(UNKNOWN_HOST) ? kUnknownHost : kRefused;
  EXPECT_EQ(PrefixMismatch(scenario.log + Times(10, last_line), file), "");
  EXPECT_EQ(monitor.ErrorOutput(), "");
  EXPECT_EQ(Problems(server), "");
}

INSTANTIATE_TEST_SUITE_P(WindowsMonitorLog, WineLogTest, ::testing::ValuesIn(kScenarios),
                         ScenarioName);

// --- how the program ends ---------------------------------------------------------

struct Ended {
  int exit_code = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs `program` under Wine until it ends (at most 60 s), standard output in
// a file or closed, standard error in a file.
Ended RunToEnd(const std::string& program, bool close_standard_output) {
  Ended ended;
  std::string base = ::testing::TempDir() + "wine_end_" + std::to_string(getpid());
  std::string out_path = base + ".out", err_path = base + ".err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (close_standard_output) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::string wine = WINE_PATH;
  std::string path = program;
  char* argv[] = {wine.data(), path.data(), nullptr};
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, wine.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << wine;
    return ended;
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << program << " still runs after 60 s";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(20000);
  }
  if (WIFEXITED(status)) ended.exit_code = WEXITSTATUS(status);
  ended.out = ReadFile(out_path);
  ended.err = ReadFile(err_path);
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
  return ended;
}

TEST(WineProcessEndTest, FailureThatEscapesIsReportedWithExitCode1) {
  // Without standard output the banner can't be written: EInOutError 105
  // escapes the monitor and is reported on standard error.
  Ended ended = RunToEnd(kMonitor, true);
  EXPECT_EQ(ended.exit_code, 1);
  EXPECT_TRUE(std::regex_match(ended.err,
                               std::regex("Exception EInOutError in module status-monitor\\.exe at "
                                          "[0-9A-F]{8}\\.\r\nI/O error 105\\.\r\n\r\n")))
      << Visible(ended.err);
}

TEST(WineProcessEndTest, FailingStartUpStepIsRuntimeError217) {
  Ended ended = RunToEnd(kMonitorNoVersion, false);
  EXPECT_EQ(ended.exit_code, 217);
  // Eight digits, zero-padded, or as many as a wider (64-bit) address needs:
  // the 64-bit program's image lies above 4 GiB.
  EXPECT_TRUE(std::regex_match(
      ended.out, std::regex("Runtime error 217 at ([0-9A-F]{8}|[1-9A-F][0-9A-F]{8,15})\r\n")))
      << Visible(ended.out);
  EXPECT_EQ(ended.err, "");
}

}  // namespace
}  // namespace e2e
