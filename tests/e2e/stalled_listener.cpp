#include "tests/e2e/stalled_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "tests/e2e/held_port.h"

namespace e2e {

namespace {

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Starts a connect and waits a moment for it: true when it completed.
bool ConnectCompletes(int fd, std::uint16_t port) {
  sockaddr_in address = Loopback(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
  if (errno != EINPROGRESS) Fail("connect to the stalled listener");
  pollfd entry{fd, POLLOUT, 0};
  if (::poll(&entry, 1, 300) != 1) return false;
  int error = 0;
  socklen_t size = sizeof error;
  ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
  if (error != 0) {
    errno = error;
    Fail("connect to the stalled listener");
  }
  return true;
}

}  // namespace

// Backlog 0: the smallest queue the kernel allows, filled by one or two
// connections that nobody accepts.
StalledListener::StalledListener()
    : listener_(ListenOnLoopback(0, 0)), port_(LocalPort(listener_.Get())) {
  // Connect until one connect hangs: from then on the queue is full. The
  // hanging one stays too, so that its retries don't find a free place.
  for (int i = 0; i < 16; ++i) {
    UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!client.Valid()) Fail("socket");
    const bool completed = ConnectCompletes(client.Get(), port_);
    queued_.push_back(std::move(client));
    if (!completed) return;
  }
  throw std::runtime_error("the accept queue of 127.0.0.1:" + std::to_string(port_) +
                           " does not fill up");
}

}  // namespace e2e
