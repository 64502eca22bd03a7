#pragma once

// The process-wide table of the sockets this library handed out, and the
// per-call claim on one of them.
//
// Windows lets one thread close a socket while another still uses it: a
// blocking connect then returns, and the handle never names another socket
// behind the user's back. A POSIX descriptor gives neither guarantee: close()
// does not wake a blocked connect, and the number can be handed out again at
// once. So every call claims the socket (SocketUse) for its duration, and
// CloseSocket() of a claimed socket only marks it closed: the last claim
// closes the descriptor, so its number cannot be reused while any call of
// ours still works on it. A blocking connect also registers a wake-up
// descriptor that Shutdown() and CloseSocket() signal.
//
// Descriptors not created by this library (inherited or duplicated ones) are
// not in the table; calls pass them through to the system unguarded.

#include <memory>

#include "platform/sockets_abi.h"

namespace wsposix {

/// Why a blocking connect was woken from another thread.
enum class Interruption { kNone, kShutdown, kClosed };

struct SocketEntry;

/// Adds a descriptor that this library just created. Returns false when
/// memory runs out; the caller then closes the descriptor and fails.
bool RegisterSocket(int fd);

/// closesocket(): returns 0 or a Windows Sockets error number. A socket that
/// another call still uses is marked closed now and closed by that call's end;
/// a socket already marked closed gives kWsaENotSock.
int CloseRegisteredSocket(ws::Socket s);

/// A call's claim on one socket, released by the destructor. Thread-safe.
class SocketUse final {
 public:
  explicit SocketUse(ws::Socket s);
  ~SocketUse();
  SocketUse(const SocketUse&) = delete;
  SocketUse& operator=(const SocketUse&) = delete;

  /// 0 when the socket may be used, otherwise the Windows Sockets error to
  /// report (kWsaENotSock for a value that is no descriptor or a socket that
  /// has been closed). fd() is meaningful only when error() is 0.
  int error() const { return error_; }
  int fd() const { return fd_; }

  /// Whether a successful Shutdown() ended sending or receiving.
  bool SendShutDown() const;
  bool ReceiveShutDown() const;
  /// Records a successful shutdown(how) with the system's SHUT_ value.
  void RecordShutdown(int how);

  /// Wakes a blocking connect waiting on this socket, if any.
  void Interrupt(Interruption why);

  /// A blocking connect registers `wake_fd` (an eventfd) for Interrupt() and
  /// CloseRegisteredSocket() to signal. Returns 0, kWsaENotSock when the
  /// socket has been closed meanwhile, or kWsaEAlready when another connect
  /// already waits on it. Unregistered descriptors cannot be woken.
  int BeginWait(int wake_fd);
  /// Ends the wait and reports what interrupted it.
  Interruption EndWait();

 private:
  std::shared_ptr<SocketEntry> entry_;
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace wsposix
