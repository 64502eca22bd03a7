#pragma once

// Test support: runs a function in a child process with its standard output
// and standard error captured, and reports how the child ended. For tests of
// code that ends the process or dies of a fault. On POSIX systems the child
// is forked; Windows has no fork, so there the child is this test executable
// started again for the running test alone (self_child_win32.h).

#include <functional>
#include <string>

#if defined(_WIN32)

#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/self_child_win32.h"

struct ChildOutcome {
  unsigned long status = 0;  // the child's exit code
  bool finished = false;
  std::string out;
  std::string err;

  bool Exited(int code) const { return finished && status == static_cast<unsigned long>(code); }
};

/// Runs `body` in a child process: the running test in this executable,
/// started again, with its standard output and error in files that this
/// process reads. The child test runs as the parent does up to the same call
/// of this function (its earlier calls return an empty outcome at once), runs
/// `body` there and ends with exit code 0 should `body` return. The child
/// writes nothing of the test framework's own (quiet_child_main.cpp), so its
/// output holds what `body` writes and nothing else.
inline ChildOutcome RunInChild(const std::function<void()>& body) {
  static std::string counted_test;
  static int calls = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test_name = std::string(test->test_suite_name()) + "." + test->name();
  if (test_name != counted_test) {
    counted_test = test_name;
    calls = 0;
  }
  std::string call = std::to_string(++calls);
  std::string wanted = SelfChildCase();
  if (!wanted.empty()) {
    if (wanted != call) return {};
    body();
    _exit(0);
  }
  SelfChildOutcome child = RunSelfChild(test_name, call);
  ChildOutcome outcome;
  outcome.status = child.exit_code;
  outcome.finished = child.finished;
  outcome.out = std::move(child.out);
  outcome.err = std::move(child.err);
  return outcome;
}

#else

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

struct ChildOutcome {
  int status = 0;  // as waitpid() gives it
  std::string out;
  std::string err;

  bool Exited(int code) const { return WIFEXITED(status) && WEXITSTATUS(status) == code; }
  bool KilledBy(int signal_number) const {
    return WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
  }
};

/// Runs `body` in a child process whose descriptors 1 and 2 are pipes to this
/// process; the child ends with exit code 0 should `body` return.
inline ChildOutcome RunInChild(const std::function<void()>& body) {
  ChildOutcome outcome;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) return outcome;
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return outcome;
  }
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    close(out_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[0]);
    close(err_pipe[1]);
    body();
    _exit(0);
  }
  close(out_pipe[1]);
  close(err_pipe[1]);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  std::string* sinks[2] = {&outcome.out, &outcome.err};
  int open_count = 2;
  while (open_count > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  if (pid > 0) waitpid(pid, &outcome.status, 0);
  return outcome;
}

#endif
