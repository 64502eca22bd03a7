#include "transport/testing/loopback_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testing_support {
namespace {

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

ScopedFd Listen(int backlog, int* port) {
  ScopedFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) throw std::runtime_error("socket failed");
  sockaddr_in address = Loopback(0);
  if (bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd.get(), backlog) != 0) {
    throw std::runtime_error("bind/listen failed");
  }
  socklen_t length = sizeof address;
  getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

ScopedFd::~ScopedFd() {
  if (fd_ >= 0) close(fd_);
}

ScopedFd& ScopedFd::operator=(ScopedFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.release();
  }
  return *this;
}

LoopbackPeer::LoopbackPeer(Serve serve, int backlog) : serve_(std::move(serve)) {
  listener_ = Listen(backlog, &port_);
  thread_ = std::thread(&LoopbackPeer::Run, this);
}

LoopbackPeer::~LoopbackPeer() {
  stopping_ = true;
  int fd = serving_fd_.load();
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
  thread_.join();
}

void LoopbackPeer::Run() {
  while (!stopping_) {
    pollfd entry{listener_.get(), POLLIN, 0};
    if (poll(&entry, 1, 20) <= 0) continue;
    ScopedFd connection(accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() < 0) continue;
    ++accepted_;
    serving_fd_ = connection.get();
    if (!stopping_) serve_(connection.get());
    serving_fd_ = -1;
  }
}

BlackholeListener::BlackholeListener() {
  listener_ = Listen(0, &port_);
  // With a backlog of 0 the queue holds one connection; fill it (and the
  // kernel's slack) so that later SYNs are dropped without an answer.
  sockaddr_in address = Loopback(port_);
  for (ScopedFd& filler : fillers_) {
    filler = ScopedFd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    connect(filler.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
}

int RefusedPort() {
  int port = 0;
  { ScopedFd fd = Listen(1, &port); }  // closed again: nothing listens there now
  return port;
}

void WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string ReadSome(int fd, std::size_t count) {
  std::string data;
  char buffer[4096];
  while (data.size() < count) {
    ssize_t n = recv(fd, buffer, std::min(sizeof buffer, count - data.size()), 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

void CloseWithReset(int fd) {
  linger option{1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

}  // namespace testing_support
