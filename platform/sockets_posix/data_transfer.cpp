// recv, recvfrom, send and sendto.

#include <fcntl.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/sockets_posix/address_translation.h"
#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/libc_calls.h"
#include "platform/sockets_posix/socket_table.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

constexpr int kMsgDontRoute = 4;
constexpr int kMsgWaitAll = 8;

// Windows flag bits to the system's; 0 or kWsaEOpNotSupp for a flag that the
// direction does not take.
int ReceiveFlags(int flags, int* out) {
  if ((flags & ~(ws::kMsgOob | ws::kMsgPeek | kMsgWaitAll)) != 0) return kWsaEOpNotSupp;
  *out = ((flags & ws::kMsgOob) != 0 ? MSG_OOB : 0) | ((flags & ws::kMsgPeek) != 0 ? MSG_PEEK : 0) |
         ((flags & kMsgWaitAll) != 0 ? MSG_WAITALL : 0);
  return 0;
}

int SendFlags(int flags, int* out) {
  if ((flags & ~(ws::kMsgOob | kMsgDontRoute)) != 0) return kWsaEOpNotSupp;
  // Never SIGPIPE: a peer that went away is an error result, as on Windows.
  *out = MSG_NOSIGNAL | ((flags & ws::kMsgOob) != 0 ? MSG_OOB : 0) |
         ((flags & kMsgDontRoute) != 0 ? MSG_DONTROUTE : 0);
  return 0;
}

int CheckBuffer(const char* buffer, int length) {
  return length < 0 || (buffer == nullptr && length > 0) ? kWsaEFault : 0;
}

// A blocking call ended by the socket's own time-out option fails with
// EAGAIN here and with WSAETIMEDOUT on Windows.
int TransferError(int fd, int errno_value) {
  if (errno_value == EAGAIN || errno_value == EWOULDBLOCK) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0) return ws::kWsaETimedOut;
  }
  return WsaErrorFromErrno(errno_value);
}

// Windows has no signals to interrupt a transfer; a handler that runs here
// must not turn into a failure.
template <typename Call>
ssize_t RetryOnSignal(Call call) {
  ssize_t result;
  do {
    result = call();
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace

int RecvFrom(ws::Socket s, char* buf, int len, int flags, ws::SockAddr* from, int* fromlen) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  int system_flags;
  if (int error = CheckBuffer(buf, len)) return Fail(error);
  if (int error = ReceiveFlags(flags, &system_flags)) return Fail(error);
  if (int error = CheckAddressBuffer(from, fromlen)) return Fail(error);
  if (use.ReceiveShutDown()) return Fail(ws::kWsaEShutdown);
  sockaddr_storage address{};
  socklen_t address_length = 0;
  ssize_t count = RetryOnSignal([&] {
    if (from == nullptr) return Libc().recv(use.fd(), buf, len, system_flags);
    address_length = sizeof address;
    return Libc().recvfrom(use.fd(), buf, len, system_flags, reinterpret_cast<sockaddr*>(&address),
                           &address_length);
  });
  if (count < 0) return Fail(TransferError(use.fd(), errno));
  // A stream socket reports no sender; Windows leaves the buffer alone then.
  if (address_length > 0) WriteAddress(address, address_length, from, fromlen);
  return static_cast<int>(count);
}

int Recv(ws::Socket s, char* buf, int len, int flags) {
  return RecvFrom(s, buf, len, flags, nullptr, nullptr);
}

int SendTo(ws::Socket s, const char* buf, int len, int flags, const ws::SockAddr* to, int tolen) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  int system_flags;
  if (int error = CheckBuffer(buf, len)) return Fail(error);
  if (int error = SendFlags(flags, &system_flags)) return Fail(error);
  sockaddr_in address;
  if (to != nullptr) {
    if (int error = ReadAddress(to, tolen, &address)) return Fail(error);
  }
  if (use.SendShutDown()) return Fail(ws::kWsaEShutdown);
  ssize_t count = RetryOnSignal([&] {
    if (to == nullptr) return Libc().send(use.fd(), buf, len, system_flags);
    return Libc().sendto(use.fd(), buf, len, system_flags,
                         reinterpret_cast<const sockaddr*>(&address), sizeof address);
  });
  if (count < 0) return Fail(TransferError(use.fd(), errno));
  return static_cast<int>(count);
}

int Send(ws::Socket s, const char* buf, int len, int flags) {
  return SendTo(s, buf, len, flags, nullptr, 0);
}

}  // namespace wsposix
