#include "platform/testing/run_in_child.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

bool ChildOutcome::Exited(int code) const {
  return finished && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

bool ChildOutcome::KilledBy(int signal_number) const {
  return finished && WIFSIGNALED(status) && WTERMSIG(status) == signal_number;
}

// The child's descriptors 1 and 2 are pipes to this process.
ChildOutcome RunInChild(const std::function<void()>& body) {
  ChildOutcome outcome;
  int out_pipe[2], err_pipe[2];
  if (pipe(out_pipe) != 0) return outcome;
  if (pipe(err_pipe) != 0) {
    close(out_pipe[0]);
    close(out_pipe[1]);
    return outcome;
  }
  // Output this process still holds in its stdio buffers would be the
  // child's too, and a child that flushes stdio on its way out (the thread
  // sanitizer's _exit does) would write it as its own.
  std::fflush(nullptr);
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
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);  // poll failed: nothing more is read
  }
  if (pid > 0) outcome.finished = waitpid(pid, &outcome.status, 0) == pid;
  return outcome;
}
