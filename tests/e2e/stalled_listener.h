#pragma once

#include <cstdint>
#include <vector>

#include "platform/unique_fd_posix.h"

namespace e2e {

/// A listener on 127.0.0.1, on a port that the kernel handed out (Port()),
/// whose accept queue is full and never drained: the kernel drops every
/// further connection request, so a connect to the port neither completes
/// nor fails until the client gives up.
class StalledListener final {
 public:
  /// Throws std::runtime_error when no port can be had or the queue can't be
  /// filled.
  StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;

  std::uint16_t Port() const { return port_; }

 private:
  UniqueFd listener_;
  std::uint16_t port_ = 0;
  std::vector<UniqueFd> queued_;  // the connections that fill the queue
};

}  // namespace e2e
