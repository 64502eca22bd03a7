#include "tests/e2e/held_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace e2e {

namespace {

// A TCP socket with SO_REUSEADDR bound to 127.0.0.1:`port`.
UniqueFd BoundSocket(std::uint16_t port) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  int on = 1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (!socket.Valid() ||
      ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("can't bind 127.0.0.1:" + std::to_string(port) + ": " +
                             std::strerror(errno));
  }
  return socket;
}

}  // namespace

HeldPort::HeldPort() : socket_(BoundSocket(0)), number_(LocalPort(socket_.Get())) {}

UniqueFd ListenOnLoopback(std::uint16_t port, int backlog) {
  UniqueFd socket = BoundSocket(port);
  if (::listen(socket.Get(), backlog) != 0) {
    throw std::runtime_error("can't listen on 127.0.0.1:" + std::to_string(port) + ": " +
                             std::strerror(errno));
  }
  return socket;
}

std::uint16_t LocalPort(int fd) {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    throw std::runtime_error(std::string("getsockname: ") + std::strerror(errno));
  }
  return ntohs(address.sin_port);
}

}  // namespace e2e
