// Creating, binding, listening, accepting, shutting down and closing sockets,
// their addresses and ioctlsocket.

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sockets_posix/address_translation.h"
#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/libc_calls.h"
#include "platform/sockets_posix/socket_table.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

ws::Socket FailSocket(int code) {
  Fail(code);
  return ws::kInvalidSocket;
}

// Takes a fresh descriptor into the table; on failure closes it again.
ws::Socket Adopt(int fd) {
  if (!RegisterSocket(fd)) {
    close(fd);
    return FailSocket(kWsaENoBufs);
  }
  return static_cast<ws::Socket>(fd);
}

using NameCall = int (*)(int fd, sockaddr* address, socklen_t* length);

int GetName(ws::Socket s, ws::SockAddr* name, int* namelen, NameCall call) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  if (name == nullptr) return Fail(kWsaEFault);
  if (int error = CheckAddressBuffer(name, namelen)) return Fail(error);
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (call(use.fd(), reinterpret_cast<sockaddr*>(&address), &length) < 0) return FailWithErrno();
  if (int error = WriteAddress(address, length, name, namelen)) return Fail(error);
  return 0;
}

}  // namespace

ws::Socket Socket(int af, int type, int protocol) {
  if (af != ws::kAfInet) return FailSocket(kWsaEAfNoSupport);
  int system_type;
  switch (type) {
    case ws::kSockStream:
      system_type = SOCK_STREAM;
      break;
    case ws::kSockDgram:
      system_type = SOCK_DGRAM;
      break;
    case 3:  // SOCK_RAW
      system_type = SOCK_RAW;
      break;
    default:
      return FailSocket(kWsaESocktNoSupport);
  }
  // Close-on-exec: a child process must not keep our connections open. The
  // protocol numbers are the IANA ones on both systems.
  int fd = Libc().socket(AF_INET, system_type | SOCK_CLOEXEC, protocol);
  if (fd < 0) return FailSocket(WsaErrorFromErrno(errno));
  return Adopt(fd);
}

int Bind(ws::Socket s, const ws::SockAddr* name, int namelen) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  sockaddr_in address;
  if (int error = ReadAddress(name, namelen, &address)) return Fail(error);
  if (Libc().bind(use.fd(), reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
    return FailWithErrno();
  }
  return 0;
}

int Listen(ws::Socket s, int backlog) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  // The system would read a negative backlog as a huge one.
  if (Libc().listen(use.fd(), backlog < 0 ? 0 : backlog) < 0) return FailWithErrno();
  return 0;
}

ws::Socket Accept(ws::Socket s, ws::SockAddr* addr, int* addrlen) {
  SocketUse use(s);
  if (use.error() != 0) return FailSocket(use.error());
  if (int error = CheckAddressBuffer(addr, addrlen)) return FailSocket(error);
  int listener_flags = fcntl(use.fd(), F_GETFL);
  if (listener_flags < 0) return FailSocket(WsaErrorFromErrno(errno));
  // As on Windows, the accepted socket inherits the listener's blocking mode.
  int flags = SOCK_CLOEXEC | ((listener_flags & O_NONBLOCK) != 0 ? SOCK_NONBLOCK : 0);
  sockaddr_storage address{};
  socklen_t length;
  int fd;
  do {
    length = sizeof address;
    fd = accept4(use.fd(), reinterpret_cast<sockaddr*>(&address), &length, flags);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return FailSocket(WsaErrorFromErrno(errno));
  ws::Socket accepted = Adopt(fd);
  if (accepted != ws::kInvalidSocket) WriteAddress(address, length, addr, addrlen);
  return accepted;
}

int Shutdown(ws::Socket s, int how) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  int system_how;
  switch (how) {
    case ws::kSdReceive:
      system_how = SHUT_RD;
      break;
    case ws::kSdSend:
      system_how = SHUT_WR;
      break;
    case ws::kSdBoth:
      system_how = SHUT_RDWR;
      break;
    default:
      return Fail(kWsaEInval);
  }
  // Wake a connect that waits on this socket first: a connect in progress
  // cannot be relied on to notice the shutdown itself.
  use.Interrupt(Interruption::kShutdown);
  if (Libc().shutdown(use.fd(), system_how) < 0) return FailWithErrno();
  use.RecordShutdown(system_how);
  return 0;
}

int CloseSocket(ws::Socket s) {
  int error = CloseRegisteredSocket(s);
  return error != 0 ? Fail(error) : 0;
}

int GetSockName(ws::Socket s, ws::SockAddr* name, int* namelen) {
  return GetName(s, name, namelen, Libc().getsockname);
}

int GetPeerName(ws::Socket s, ws::SockAddr* name, int* namelen) {
  return GetName(s, name, namelen, Libc().getpeername);
}

int IoctlSocket(ws::Socket s, std::int32_t cmd, std::uint32_t* argp) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  if (argp == nullptr) return Fail(kWsaEFault);
  if (cmd == ws::kFionbio) {
    int flags = fcntl(use.fd(), F_GETFL);
    if (flags < 0) return FailWithErrno();
    flags = *argp != 0 ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (fcntl(use.fd(), F_SETFL, flags) < 0) return FailWithErrno();
    return 0;
  }
  if (cmd == ws::kFionread) {
    int pending = 0;
    if (ioctl(use.fd(), FIONREAD, &pending) < 0) return FailWithErrno();
    *argp = static_cast<std::uint32_t>(pending);
    return 0;
  }
  return Fail(kWsaEInval);
}

}  // namespace wsposix
