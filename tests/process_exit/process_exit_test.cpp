// How the real program ends: a failing start-up step, a failure that escapes
// the monitor, and an interrupt from outside. Each runs the executable with
// its standard output and standard error in files and compares the bytes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "monitor/version.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// A directory of its own for each run, removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (fs::temp_directory_path() / "process_exit_XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct RunResult {
  int status = 0;
  std::string out;
  std::string err;
};

struct Launch {
  explicit Launch(fs::path path) : program(std::move(path)) {}

  fs::path program;
  std::vector<std::string> extra_environment;
  bool close_standard_output = false;
  // When above 0, the process gets an interrupt (SIGINT) after this long.
  int interrupt_after_ms = 0;
};

// Starts `launch.program` with no arguments, standard input from /dev/null
// and the two output streams in files; waits at most 30 s for its end.
RunResult Start(const Launch& launch, const ScratchDirectory& scratch) {
  RunResult run;
  fs::path out_file = scratch.path() / "stdout";
  fs::path err_file = scratch.path() / "stderr";

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (launch.close_standard_output) {
    posix_spawn_file_actions_addclose(&actions, 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);

  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string(*entry).rfind("LD_PRELOAD=", 0) != 0) environment.push_back(*entry);
  }
  for (const std::string& entry : launch.extra_environment) environment.push_back(entry);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = launch.program.string();
  char* argv[] = {program.data(), nullptr};

  pid_t pid = -1;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  EXPECT_EQ(spawned, 0) << program;
  if (spawned != 0) return run;

  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  auto interrupt_at =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(launch.interrupt_after_ms);
  bool interrupted = launch.interrupt_after_ms <= 0;
  for (;;) {
    pid_t done = waitpid(pid, &run.status, WNOHANG);
    if (done == pid) break;
    if (!interrupted && std::chrono::steady_clock::now() >= interrupt_at) {
      kill(pid, SIGINT);
      interrupted = true;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << program << " still runs after 30 s";
      kill(pid, SIGKILL);
      waitpid(pid, &run.status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!launch.close_standard_output) run.out = ReadFile(out_file);
  run.err = ReadFile(err_file);
  return run;
}

bool ExitedWith(const RunResult& run, int code) {
  return WIFEXITED(run.status) && WEXITSTATUS(run.status) == code;
}

const std::string kBanner = std::string("Version: ") + kProgramVersion + "\r\n\r\n";

TEST(ProcessExitTest, AFailingStartupStepWritesTheRuntimeErrorLineAndExits217) {
  ScratchDirectory scratch;
  Launch launch(STATUS_MONITOR_PATH);
  launch.extra_environment = {std::string("LD_PRELOAD=") + FAILING_UNAME_PATH};
  RunResult run = Start(launch, scratch);
  EXPECT_TRUE(ExitedWith(run, 217)) << run.status;
  EXPECT_TRUE(std::regex_match(run.out, std::regex("Runtime error 217 at [0-9A-F]{8,16}\r\n")))
      << "no banner, only the line: '" << run.out << "'";
  EXPECT_EQ(run.err, "");
}

// A copy of the program in a directory without the sockets library beside it:
// making the client fails after the banner, and nothing takes that failure.
TEST(ProcessExitTest, AFailureEscapingTheMonitorIsReportedOnStandardErrorWithExitCode1) {
  ScratchDirectory scratch;
  fs::path copy = scratch.path() / "status-monitor";
  fs::copy_file(STATUS_MONITOR_PATH, copy);
  RunResult run = Start(Launch(copy), scratch);
  EXPECT_TRUE(ExitedWith(run, 1)) << run.status;
  EXPECT_EQ(run.out, kBanner) << "the log's buffer is written out before the report";
  EXPECT_TRUE(std::regex_match(
      run.err, std::regex("Exception EIdWS2StubError in module status-monitor at [0-9A-F]{8}\\.\r\n"
                          "Error on loading Winsock2 library \\(libws2_32\\.so\\): "
                          "[^\r\n]+\\.\r\n\r\n")))
      << run.err;
}

TEST(ProcessExitTest, WithoutStandardOutputTheBannersFailureIsReported) {
  ScratchDirectory scratch;
  Launch launch(STATUS_MONITOR_PATH);
  launch.close_standard_output = true;
  RunResult run = Start(launch, scratch);
  EXPECT_TRUE(ExitedWith(run, 1)) << run.status;
  EXPECT_TRUE(std::regex_match(
      run.err, std::regex("Exception EInOutError in module status-monitor at [0-9A-F]{8}\\.\r\n"
                          "I/O error 105\\.\r\n\r\n")))
      << run.err;
}

TEST(ProcessExitTest, AnInterruptEndsTheProcessAtOnceWithoutOutput) {
  ScratchDirectory scratch;
  Launch launch(STATUS_MONITOR_PATH);
  launch.interrupt_after_ms = 700;  // the monitor is busy connecting by then
  RunResult run = Start(launch, scratch);
  ASSERT_TRUE(WIFSIGNALED(run.status)) << run.status;
  EXPECT_EQ(WTERMSIG(run.status), SIGINT);
  EXPECT_EQ(run.err, "");
  // Nothing of the program ran: the log's buffer was not written out, so the
  // file holds whole 128-byte blocks only (usually none yet).
  EXPECT_EQ(run.out.size() % 128, 0u) << run.out;
}

}  // namespace
