#pragma once

#include <cstdint>

#include "platform/unique_fd_posix.h"

namespace e2e {

/// A TCP port on 127.0.0.1 that the kernel handed out, kept for as long as
/// the object lives by a socket bound to it that never listens. Servers
/// listen on the port in turn (Linux lets a listener bind a port beside
/// bound sockets that don't listen, when all set SO_REUSEADDR, as this one
/// and the test servers do). While none listens, a connect to the port is
/// refused at once, and no other socket can take it meanwhile: no other
/// server, and no connect as its local port, which aimed at this very port
/// would connect the socket to itself.
class HeldPort final {
 public:
  /// Throws std::runtime_error when the system hands out no port.
  HeldPort();
  HeldPort(const HeldPort&) = delete;
  HeldPort& operator=(const HeldPort&) = delete;

  std::uint16_t Number() const { return number_; }

 private:
  UniqueFd socket_;
  std::uint16_t number_ = 0;
};

/// A TCP socket listening on 127.0.0.1:`port` (0: a port the kernel hands
/// out), with SO_REUSEADDR, so that it may share a HeldPort's port.
/// Throws std::runtime_error when the port can't be bound.
UniqueFd ListenOnLoopback(std::uint16_t port, int backlog);

/// The local port of the socket `fd`.
std::uint16_t LocalPort(int fd);

}  // namespace e2e
