#pragma once

// A real TCP peer on 127.0.0.1 for transport tests, written directly on the
// operating system's sockets interface (POSIX sockets or Winsock) so that it
// shares no code with what it tests. Sockets are passed around as `int`: a
// Windows socket is a kernel handle, and those always fit in 32 bits.

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"

namespace testing_support {

/// Closes a socket of the system's sockets interface.
void CloseSocket(int fd);

/// A socket closed when the object dies.
using ScopedFd = BasicUniqueFd<&CloseSocket>;

/// A TCP socket listening on 127.0.0.1 at an ephemeral port, stored in
/// `*port`. Throws std::runtime_error when the system refuses.
ScopedFd ListenOnLoopback(int backlog, int* port);

/// The next connection waiting on `listener`; an invalid one on failure.
ScopedFd AcceptConnection(int listener);

/// A TCP socket bound to 127.0.0.1:`port`, not listening; an invalid one
/// when the port is taken.
ScopedFd BindLoopback(int port);

/// A blocking TCP socket connected to 127.0.0.1:`port`. `*error` gets 0, or
/// the system's error code of the failed connect (errno, or the Windows
/// Sockets error); the socket is returned all the same, unconnected.
ScopedFd ConnectToLoopback(int port, int* error);

/// Two ends of a loopback TCP connection. Nothing is sent on them, so a
/// select or poll on either waits: they stand in for idle sockets.
struct SocketPair {
  ScopedFd first;
  ScopedFd second;
};
SocketPair ConnectedPair();

/// True once `fd` is readable (data, end of stream or an error), false when
/// `timeout_ms` passed first.
bool WaitReadable(int fd, int timeout_ms);

/// Listens on 127.0.0.1 at an ephemeral port and runs `serve` for each
/// accepted connection (one at a time) on a thread of its own. Destroying
/// the peer shuts the connection being served down, so a `serve` blocked in
/// a read returns.
class LoopbackPeer {
 public:
  using Serve = std::function<void(int fd)>;
  explicit LoopbackPeer(Serve serve, int backlog = 16);
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return port_; }
  int accepted() const { return accepted_.load(); }

 private:
  void Run();

  Serve serve_;
  ScopedFd listener_;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> serving_fd_{-1};  // shut down on destruction to end `serve`
  std::thread thread_;
};

/// A socket listening on 127.0.0.1 at an ephemeral port whose accept queue
/// is full and never drained, so that the kernel drops further connection
/// requests: a connect to it neither completes nor fails until the client
/// gives up. Throws std::runtime_error when the queue can't be filled.
class BlackholeListener {
 public:
  BlackholeListener();
  BlackholeListener(const BlackholeListener&) = delete;
  BlackholeListener& operator=(const BlackholeListener&) = delete;

  int port() const { return port_; }

 private:
  ScopedFd listener_;
  std::vector<ScopedFd> fillers_;  // the connections that fill the queue
  int port_ = 0;
};

/// A port on 127.0.0.1 that nothing listens on (connects are refused). The
/// same port every time: a socket stays bound to it, without listening, for
/// the life of the process.
int RefusedPort();

/// Sends all of `bytes`, again after a signal interrupts it; never raises
/// SIGPIPE. False when the peer is gone.
bool WriteAll(int fd, const std::string& bytes);
bool WriteAll(int fd, const char* data, std::size_t size);
/// Reads until `count` bytes have arrived or the peer closed.
std::string ReadSome(int fd, std::size_t count);
/// Sets SO_LINGER 0, so that closing the socket sends a reset.
void CloseWithReset(int fd);

}  // namespace testing_support
