#include "tests/e2e/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

[[noreturn]] void Fail(const std::string& what, int error) {
  throw std::runtime_error(what + ": " + std::strerror(error));
}

UniqueFd TemporaryFile(const std::string& name, std::string* path) {
  const char* directory = std::getenv("TMPDIR");
  std::string pattern =
      std::string(directory && *directory ? directory : "/tmp") + "/" + name + "-XXXXXX";
  UniqueFd fd(::mkostemp(pattern.data(), O_CLOEXEC));
  if (!fd.Valid()) Fail("mkostemp " + pattern, errno);
  *path = pattern;
  return fd;
}

void SetCloseOnExec(int fd) { ::fcntl(fd, F_SETFD, ::fcntl(fd, F_GETFD) | FD_CLOEXEC); }

// This process's environment with `overrides` put in place of the variables
// they name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view variable(*entry);
    bool replaced = false;
    for (const std::string& override : overrides) {
      const std::string name = override.substr(0, override.find('=') + 1);
      replaced = replaced || variable.starts_with(name);
    }
    if (!replaced) result.emplace_back(variable);
  }
  result.insert(result.end(), overrides.begin(), overrides.end());
  return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// The spawn settings, released on every path.
struct SpawnSettings {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSettings() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSettings() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSettings(const SpawnSettings&) = delete;
  SpawnSettings& operator=(const SpawnSettings&) = delete;
};

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, StdoutTo stdout_to,
                           const std::vector<std::string>& environment)
    : stdout_to_(stdout_to) {
  UniqueFd error_file = TemporaryFile("e2e-stderr", &error_path_);
  UniqueFd child_stdout;
  std::vector<std::string> overrides = environment;
  if (stdout_to == StdoutTo::kJournal) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
      Fail("socketpair", errno);
    }
    journal_.Reset(ends[0]);
    child_stdout.Reset(ends[1]);
    struct stat status;
    if (::fstat(ends[1], &status) != 0) Fail("fstat", errno);
    overrides.push_back("JOURNAL_STREAM=" + std::to_string(status.st_dev) + ":" +
                        std::to_string(status.st_ino));
  } else if (stdout_to == StdoutTo::kTerminal) {
    // Raw mode: no CR inserted before LF, no other processing of the bytes.
    termios raw{};
    ::cfmakeraw(&raw);
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, &raw, nullptr) != 0) Fail("openpty", errno);
    terminal_.Reset(master);
    child_stdout.Reset(slave);
    SetCloseOnExec(master);
    SetCloseOnExec(slave);
  } else if (stdout_to == StdoutTo::kDevFull) {
    child_stdout.Reset(::open("/dev/full", O_WRONLY | O_CLOEXEC));
    if (!child_stdout.Valid()) Fail("open /dev/full", errno);
  } else if (stdout_to == StdoutTo::kClosedPipe) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) Fail("pipe2", errno);
    ::close(ends[0]);  // nobody will ever read: every write fails with EPIPE
    child_stdout.Reset(ends[1]);
  } else {
    child_stdout = TemporaryFile("e2e-stdout", &output_path_);
    output_file_.Reset(::open(output_path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!output_file_.Valid()) Fail("open " + output_path_, errno);
  }

  SpawnSettings settings;
  posix_spawn_file_actions_addopen(&settings.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&settings.actions, child_stdout.Get(), 1);
  posix_spawn_file_actions_adddup2(&settings.actions, error_file.Get(), 2);
  // The child starts with default signal handling and nothing blocked,
  // whatever the test runner has set up for itself.
  sigset_t all, none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&settings.attributes, &all);
  posix_spawnattr_setsigmask(&settings.attributes, &none);
  posix_spawnattr_setflags(&settings.attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<std::string> arguments = argv;
  std::vector<std::string> variables = ChildEnvironment(overrides);
  started_ = Clock::now();
  int error = ::posix_spawn(&pid_, arguments.at(0).c_str(), &settings.actions, &settings.attributes,
                            Pointers(arguments).data(), Pointers(variables).data());
  if (error != 0) {
    pid_ = -1;
    Fail("posix_spawn " + arguments[0], error);
  }
  // child_stdout closes here: from now on only the child holds the terminal's
  // other side, so its end shows as the end of the terminal.
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !exited_) {
    ::kill(pid_, SIGKILL);
    ReapIfExited(true);
  }
  if (!output_path_.empty()) ::unlink(output_path_.c_str());
  if (!error_path_.empty()) ::unlink(error_path_.c_str());
}

bool ChildProcess::WaitFor(const std::function<bool(const std::string&)>& condition,
                           std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (condition(output_)) return true;
    if (exited_ || Clock::now() >= deadline) return false;
    Collect(std::chrono::milliseconds(10));
  }
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  WaitFor([this](const std::string&) { return exited_; }, timeout);
  if (exited_) DrainTerminal();
  return exited_;
}

bool ChildProcess::Running() {
  ReapIfExited(false);
  return !exited_;
}

void ChildProcess::Stop(int signal) {
  if (!exited_) {
    ::kill(pid_, signal);
    ReapIfExited(true);
  }
  DrainTerminal();
  Collect(std::chrono::milliseconds(0));
}

std::string ChildProcess::ErrorOutput() const {
  std::string text;
  UniqueFd file(::open(error_path_.c_str(), O_RDONLY | O_CLOEXEC));
  char buffer[4096];
  for (ssize_t got; file.Valid() && (got = ::read(file.Get(), buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

Clock::time_point ChildProcess::ArrivalOf(size_t offset) const {
  for (const Arrival& arrival : arrivals_) {
    if (arrival.end > offset) return arrival.time;
  }
  return Clock::time_point::max();
}

int ChildProcess::ReadsBetween(size_t from, size_t to) const {
  int reads = 0;
  size_t begin = 0;
  for (const Arrival& arrival : arrivals_) {
    if (begin < to && arrival.end > from) ++reads;
    begin = arrival.end;
  }
  return reads;
}

int ChildProcess::ExitCode() const {
  return exited_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

int ChildProcess::TermSignal() const {
  return exited_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
}

void ChildProcess::Collect(std::chrono::milliseconds wait) {
  char buffer[65536];
  if (stdout_to_ == StdoutTo::kTerminal) {
    pollfd entry{terminal_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(wait.count())) == 1) {
      // EIO once the child's side is closed: the child has ended.
      ssize_t got = ::read(terminal_.Get(), buffer, sizeof buffer);
      if (got > 0) {
        output_.append(buffer, static_cast<size_t>(got));
        arrivals_.push_back({output_.size(), Clock::now()});
      } else if (!exited_) {
        std::this_thread::sleep_for(wait);  // don't spin on a hung-up terminal
      }
    }
  } else if (stdout_to_ == StdoutTo::kJournal) {
    pollfd entry{journal_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(wait.count())) == 1 && !ReadWrites() && !exited_) {
      std::this_thread::sleep_for(wait);  // don't spin on a closed socket
    }
  } else if (stdout_to_ == StdoutTo::kFile) {
    std::this_thread::sleep_for(wait);
    for (ssize_t got; (got = ::pread(output_file_.Get(), buffer, sizeof buffer,
                                     static_cast<off_t>(output_.size()))) > 0;) {
      output_.append(buffer, static_cast<size_t>(got));
    }
    if (file_sizes_seen_.empty() || file_sizes_seen_.back() != output_.size()) {
      file_sizes_seen_.push_back(output_.size());
    }
  } else {
    std::this_thread::sleep_for(wait);  // nothing of the output can be read back
  }
  ReapIfExited(false);
}

void ChildProcess::ReapIfExited(bool block) {
  if (exited_ || pid_ <= 0) return;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status_, block ? 0 : WNOHANG);
  } while (done < 0 && errno == EINTR);
  if (done == pid_) exited_ = true;
}

// After the child's end the terminal still holds what it wrote last; read
// until the terminal reports its hang-up.
void ChildProcess::DrainTerminal() {
  if (stdout_to_ == StdoutTo::kJournal) {
    while (ReadWrites()) {
    }
    return;
  }
  if (stdout_to_ != StdoutTo::kTerminal) return;
  char buffer[65536];
  for (;;) {
    pollfd entry{terminal_.Get(), POLLIN, 0};
    if (::poll(&entry, 1, 200) != 1) return;
    ssize_t got = ::read(terminal_.Get(), buffer, sizeof buffer);
    if (got <= 0) return;
    output_.append(buffer, static_cast<size_t>(got));
    arrivals_.push_back({output_.size(), Clock::now()});
  }
}

bool ChildProcess::ReadWrites() {
  char buffer[65536];
  for (;;) {
    ssize_t got = ::recv(journal_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
    if (got > 0) {
      const auto now = Clock::now();
      writes_.push_back({std::string(buffer, static_cast<size_t>(got)), now});
      output_.append(buffer, static_cast<size_t>(got));
      arrivals_.push_back({output_.size(), now});
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    // 0: the child's end is closed; EAGAIN: nothing more for now.
    return got < 0 && errno == EAGAIN;
  }
}

}  // namespace e2e
