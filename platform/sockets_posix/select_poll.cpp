// select with the Windows set layout, built on poll(): the sets hold socket
// values rather than bits, so descriptor numbers of any size work, and the
// first argument is ignored as Windows ignores it.

#include <poll.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>

#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/socket_table.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSetCount = 3;  // read, write, except
constexpr int kMaxSockets = kSetCount * ws::kFdSetSize;
constexpr short kRequested[kSetCount] = {POLLIN, POLLOUT, POLLPRI};

// Whether poll's answer makes a socket ready for a set. As on Windows, a
// closed or failed connection counts as readable (recv then reports it), and
// a failed connect shows in the except set, not as writable.
bool Ready(int set, short revents) {
  switch (set) {
    case 0:
      return (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    case 1:
      return (revents & POLLOUT) != 0 && (revents & POLLERR) == 0;
    default:
      return (revents & (POLLPRI | POLLERR)) != 0;
  }
}

// The poll time-out for what is left until `deadline`, rounded up so that
// poll never returns before it; at most INT_MAX ms per call.
int WaitMs(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left < 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// Waits on `fds` until something is ready or the time-out (null: none) is
// over. Signals do not end the wait. Returns poll's count or -1 with errno.
int Wait(pollfd* fds, int count, const ws::TimeVal* timeout) {
  if (timeout == nullptr) {
    int ready;
    do {
      ready = poll(fds, count, -1);
    } while (ready < 0 && errno == EINTR);
    return ready;
  }
  auto deadline = Clock::now() + std::chrono::seconds(timeout->tv_sec) +
                  std::chrono::microseconds(timeout->tv_usec);
  for (;;) {
    int ready = poll(fds, count, WaitMs(deadline));
    if (ready < 0 && errno != EINTR) return -1;
    // Also covers a time-out longer than one poll call can wait.
    if (ready > 0 || (ready == 0 && Clock::now() >= deadline)) return ready;
  }
}

}  // namespace

int Select(ws::FdSet* readfds, ws::FdSet* writefds, ws::FdSet* exceptfds,
           const ws::TimeVal* timeout) {
  ws::FdSet* sets[kSetCount] = {readfds, writefds, exceptfds};
  std::uint32_t total = 0;
  for (ws::FdSet* set : sets) {
    if (set == nullptr) continue;
    if (set->fd_count > ws::kFdSetSize) return Fail(kWsaEInval);
    total += set->fd_count;
  }
  // Windows refuses a select with nothing to wait for.
  if (total == 0) return Fail(kWsaEInval);
  if (timeout != nullptr && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) {
    return Fail(kWsaEInval);
  }

  // One poll entry per distinct socket, claimed for the whole wait so that
  // its number cannot be reused under us.
  std::optional<SocketUse> uses[kMaxSockets];
  pollfd fds[kMaxSockets];
  int slot_of[kSetCount][ws::kFdSetSize];
  int used = 0;
  for (int set = 0; set < kSetCount; ++set) {
    if (sets[set] == nullptr) continue;
    for (std::uint32_t i = 0; i < sets[set]->fd_count; ++i) {
      ws::Socket s = sets[set]->fd_array[i];
      int slot = 0;
      while (slot < used && static_cast<ws::Socket>(fds[slot].fd) != s) ++slot;
      if (slot == used) {
        uses[used].emplace(s);
        if (uses[used]->error() != 0) return Fail(uses[used]->error());
        fds[used] = {uses[used]->fd(), 0, 0};
        ++used;
      }
      fds[slot].events = static_cast<short>(fds[slot].events | kRequested[set]);
      slot_of[set][i] = slot;
    }
  }

  if (Wait(fds, used, timeout) < 0) return FailWithErrno();
  for (int slot = 0; slot < used; ++slot) {
    if ((fds[slot].revents & POLLNVAL) != 0) return Fail(ws::kWsaENotSock);
  }

  // Keep in each set only its ready sockets, in their order.
  int ready = 0;
  for (int set = 0; set < kSetCount; ++set) {
    if (sets[set] == nullptr) continue;
    std::uint32_t kept = 0;
    for (std::uint32_t i = 0; i < sets[set]->fd_count; ++i) {
      if (Ready(set, fds[slot_of[set][i]].revents)) {
        sets[set]->fd_array[kept++] = sets[set]->fd_array[i];
      }
    }
    sets[set]->fd_count = kept;
    ready += static_cast<int>(kept);
  }
  return ready;
}

}  // namespace wsposix
