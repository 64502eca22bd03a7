// connect, with a blocking connect that another thread can cut short.
//
// The transport runs a timed connect in a helper thread and, when the time is
// up, shuts the socket down and closes it from its own thread, expecting the
// connect to return. Linux does not wake a connect blocked in the kernel when
// its descriptor is closed, so a blocking connect here is a non-blocking one
// plus a wait on the socket and on a wake-up descriptor that shutdown and
// closesocket signal (socket_table.h). Sockets the caller made non-blocking
// keep the ordinary non-blocking behaviour.

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sockets_posix/address_translation.h"
#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/libc_calls.h"
#include "platform/sockets_posix/socket_table.h"
#include "platform/sockets_posix/sockets_posix.h"
#include "platform/unique_fd_posix.h"

namespace wsposix {
namespace {

// Result of Await() when the wake-up descriptor fired.
constexpr int kWoken = -1;

int StartConnect(int fd, const sockaddr_in& address) {
  return Libc().connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// Waits until the connect started on the non-blocking `fd` has ended, or
// `wake_fd` fires. Returns 0, a Windows Sockets error number or kWoken.
int Await(int fd, int wake_fd) {
  pollfd fds[2] = {{fd, POLLOUT, 0}, {wake_fd, POLLIN, 0}};
  for (;;) {
    int ready = poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;  // a signal handler ran; keep waiting
      return WsaErrorFromErrno(errno);
    }
    // An interruption wins over a result that arrived at the same moment: the
    // caller is about to close the socket anyway.
    if (fds[1].revents != 0) return kWoken;
    if (fds[0].revents != 0) break;
  }
  int pending = 0;
  socklen_t length = sizeof pending;
  if (Libc().getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) < 0) {
    return WsaErrorFromErrno(errno);
  }
  return WsaErrorFromErrno(pending);
}

int ConnectNonBlocking(int fd, const sockaddr_in& address) {
  if (StartConnect(fd, address) == 0) return 0;
  // Windows reports a connect under way on a non-blocking socket as "would
  // block"; a second one while it is still under way gives EALREADY.
  if (errno == EINPROGRESS || errno == EINTR) return Fail(ws::kWsaEWouldBlock);
  return FailWithErrno();
}

// `flags` are the socket's file status flags, without O_NONBLOCK.
int ConnectInterruptibly(SocketUse& use, const sockaddr_in& address, int flags) {
  UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (wake.Get() < 0) return FailWithErrno();
  if (int error = use.BeginWait(wake.Get())) return Fail(error);
  int result;
  // The first and last branches look alike, but errno comes from two
  // different calls.
  // NOLINTNEXTLINE(bugprone-branch-clone)
  if (fcntl(use.fd(), F_SETFL, flags | O_NONBLOCK) < 0) {
    result = WsaErrorFromErrno(errno);
  } else if (StartConnect(use.fd(), address) == 0) {
    result = 0;
  } else if (errno == EINPROGRESS || errno == EINTR) {
    // EINTR: the connect goes on in the background, as for EINPROGRESS.
    result = Await(use.fd(), wake.Get());
  } else {
    result = WsaErrorFromErrno(errno);
  }
  Interruption why = use.EndWait();
  // The descriptor is still ours (the use holds it open) even when it has
  // been closed meanwhile, so restoring the mode cannot hit another socket.
  fcntl(use.fd(), F_SETFL, flags);
  if (result == kWoken) {
    // A closed socket gives "not a socket", which the transport's connect
    // thread expects and ignores; a shutdown gives "interrupted".
    return Fail(why == Interruption::kClosed ? ws::kWsaENotSock : ws::kWsaEIntr);
  }
  return result == 0 ? 0 : Fail(result);
}

}  // namespace

int Connect(ws::Socket s, const ws::SockAddr* name, int namelen) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  sockaddr_in address;
  if (int error = ReadAddress(name, namelen, &address)) return Fail(error);
  int flags = fcntl(use.fd(), F_GETFL);
  if (flags < 0) return FailWithErrno();
  if ((flags & O_NONBLOCK) != 0) return ConnectNonBlocking(use.fd(), address);
  return ConnectInterruptibly(use, address, flags);
}

}  // namespace wsposix
