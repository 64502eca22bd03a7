// The runtime's standard output over the real descriptor 1: on a terminal each
// statement is visible at once; on a pipe nothing is until 128 bytes are
// together. Each case runs in a child whose descriptor 1 is replaced.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "monitor/text_output.h"

namespace {

// The child writes `first`, tells the parent, waits to be told, writes
// `second`. The parent reports what the output carried after each step.
struct Steps {
  std::string after_first;
  std::string after_second;
};

// Reads what the output carries: waits up to two seconds for `expected`
// bytes (a terminal passes them on with a small delay), then takes whatever
// is there, so that surplus bytes show too.
std::string ReadUpTo(int fd, std::size_t expected) {
  std::string text;
  char buffer[512];
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (text.size() < expected && std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, 20) > 0) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) text.append(buffer, n);
    }
  }
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  return text;
}

Steps RunSteps(int output_write_end, int output_read_end, const std::string& first,
               const std::string& second, const Steps& expected) {
  int to_parent[2], to_child[2];
  EXPECT_EQ(0, pipe(to_parent));
  EXPECT_EQ(0, pipe(to_child));
  pid_t child = fork();
  if (child == 0) {
    dup2(output_write_end, STDOUT_FILENO);
    char token = 0;
    StandardOutput().Write(first);
    (void)!write(to_parent[1], &token, 1);
    (void)!read(to_child[0], &token, 1);
    StandardOutput().Write(second);
    (void)!write(to_parent[1], &token, 1);
    _exit(0);
  }
  fcntl(output_read_end, F_SETFL, O_NONBLOCK);
  Steps steps;
  char token;
  (void)!read(to_parent[0], &token, 1);
  steps.after_first = ReadUpTo(output_read_end, expected.after_first.size());
  (void)!write(to_child[1], &token, 1);
  (void)!read(to_parent[0], &token, 1);
  steps.after_second = ReadUpTo(output_read_end, expected.after_second.size());
  waitpid(child, nullptr, 0);
  for (int fd : {to_parent[0], to_parent[1], to_child[0], to_child[1]}) close(fd);
  return steps;
}

TEST(StandardOutputTest, TerminalSeesEveryStatementAtOnce) {
  int master = -1, slave = -1;
  ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
  Steps expected{"<", "E"};
  Steps steps = RunSteps(slave, master, "<", "E", expected);
  EXPECT_EQ(expected.after_first, steps.after_first);
  EXPECT_EQ(expected.after_second, steps.after_second);
  close(slave);
  close(master);
}

TEST(StandardOutputTest, PipeSeesWholeBlocksOnly) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  // Bytes in a pipe are readable as soon as the write returns: no wait needed
  // to see that nothing came.
  Steps expected{"", std::string(100, 'a') + std::string(28, 'b')};
  Steps steps = RunSteps(fds[1], fds[0], std::string(100, 'a'), std::string(40, 'b'), expected);
  EXPECT_EQ(expected.after_first, steps.after_first);
  EXPECT_EQ(expected.after_second, steps.after_second);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
