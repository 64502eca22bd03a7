#include "demo_server/stop_flag.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

StopFlag::StopFlag() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::system_error(errno, std::generic_category(), "pipe2");
  }
  read_end_.Reset(ends[0]);
  write_end_.Reset(ends[1]);
}

void StopFlag::Raise() {
  // The byte is never read back: the pipe stays readable for every waiter,
  // present and future.
  if (!raised_.exchange(true)) {
    [[maybe_unused]] ssize_t ignored = ::write(write_end_.Get(), "!", 1);
  }
}

StopFlag::Wait StopFlag::WaitFor(int fd, short events, std::chrono::milliseconds timeout) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int wait_ms = -1;
    if (timeout.count() >= 0) {
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    pollfd fds[2] = {{read_end_.Get(), POLLIN, 0}, {fd, events, 0}};
    const int count = fd >= 0 ? 2 : 1;
    int ready = ::poll(fds, count, wait_ms);
    if (ready < 0 && errno == EINTR) continue;  // a signal; its handler may have raised us
    if (raised_.load() || (ready > 0 && fds[0].revents != 0)) return Wait::kStopped;
    if (ready < 0) return Wait::kReady;  // let the caller's own call report the fault
    if (ready > 0) return Wait::kReady;
    if (wait_ms == 0) return Wait::kTimedOut;
  }
}

bool StopFlag::SleepFor(std::chrono::milliseconds duration) const {
  return WaitFor(-1, 0, duration) == Wait::kTimedOut;
}
