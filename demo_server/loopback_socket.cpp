#include "demo_server/loopback_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

UniqueFd ConnectToLoopback(std::uint16_t port, int* error) {
  UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket.Valid()) {
    *error = errno;
    return socket;
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  *error = ::connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
               ? 0
               : errno;
  return socket;
}
