#include "transport/testing/loopback_peer.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace testing_support {
namespace {

// --- the few calls in which the two sockets interfaces differ ---------------
#if defined(_WIN32)
using NativeSocket = SOCKET;
using AddressLength = int;
constexpr int kNoSignal = 0;  // Windows raises no signal on a broken connection
constexpr int kShutBoth = SD_BOTH;

// The peer is independent of the transport's binding, so it starts Winsock
// for itself: once, on first use, and cleans up when the process ends.
class WinsockUser {
 public:
  WinsockUser() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
  ~WinsockUser() { WSACleanup(); }
};

void StartSockets() { static WinsockUser user; }

NativeSocket Native(int fd) { return static_cast<NativeSocket>(fd); }

int NewSocket(bool nonblocking) {
  StartSockets();
  // Not inherited: death tests start child processes, which must not keep
  // the peer's ports open.
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                        WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return -1;
  if (nonblocking) {
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
  }
  return static_cast<int>(s);
}

int AcceptSocket(int listener) {
  SOCKET s = accept(Native(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

void CloseNative(int fd) { closesocket(Native(fd)); }

bool Interrupted() { return false; }

bool PollReadable(int fd, int timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Native(fd), &readable);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

int LastError() { return WSAGetLastError(); }

bool ConnectPending() { return WSAGetLastError() == WSAEWOULDBLOCK; }

// A connect under way ended within `timeout_ms`, one way or the other (a
// failed one shows in the exception set).
bool ConnectEnded(int fd, int timeout_ms) {
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(Native(fd), &writable);
  FD_SET(Native(fd), &failed);
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  return select(0, nullptr, &writable, &failed, &timeout) > 0;
}
#else
using NativeSocket = int;
using AddressLength = socklen_t;
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kShutBoth = SHUT_RDWR;

NativeSocket Native(int fd) { return fd; }

int NewSocket(bool nonblocking) {
  return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
}

int AcceptSocket(int listener) { return accept4(listener, nullptr, nullptr, SOCK_CLOEXEC); }

void CloseNative(int fd) { close(fd); }

bool Interrupted() { return errno == EINTR; }

bool PollReadable(int fd, int timeout_ms) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) > 0;
}

int LastError() { return errno; }

bool ConnectPending() { return errno == EINPROGRESS; }

// A connect under way ended within `timeout_ms`, one way or the other.
bool ConnectEnded(int fd, int timeout_ms) {
  pollfd entry{fd, POLLOUT, 0};
  return poll(&entry, 1, timeout_ms) > 0;
}
#endif
// -----------------------------------------------------------------------------

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int Connect(int fd, int port) {
  sockaddr_in address = Loopback(port);
  return connect(Native(fd), reinterpret_cast<sockaddr*>(&address), sizeof address);
}

}  // namespace

void CloseSocket(int fd) { CloseNative(fd); }

ScopedFd ListenOnLoopback(int backlog, int* port) {
  ScopedFd fd(NewSocket(false));
  if (fd.Get() < 0) throw std::runtime_error("socket failed");
  sockaddr_in address = Loopback(0);
  if (bind(Native(fd.Get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(Native(fd.Get()), backlog) != 0) {
    throw std::runtime_error("bind/listen failed");
  }
  AddressLength length = sizeof address;
  getsockname(Native(fd.Get()), reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

ScopedFd AcceptConnection(int listener) { return ScopedFd(AcceptSocket(listener)); }

ScopedFd BindLoopback(int port) {
  ScopedFd fd(NewSocket(false));
  sockaddr_in address = Loopback(port);
  if (fd.Get() < 0 ||
      bind(Native(fd.Get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    return ScopedFd();
  }
  return fd;
}

ScopedFd ConnectToLoopback(int port, int* error) {
  ScopedFd fd(NewSocket(false));
  if (fd.Get() < 0) {
    *error = LastError();
    return fd;
  }
  *error = Connect(fd.Get(), port) == 0 ? 0 : LastError();
  return fd;
}

SocketPair ConnectedPair() {
  int port = 0;
  ScopedFd listener = ListenOnLoopback(1, &port);
  SocketPair pair;
  pair.first = ScopedFd(NewSocket(false));
  if (pair.first.Get() < 0 || Connect(pair.first.Get(), port) != 0) {
    throw std::runtime_error("connect failed");
  }
  pair.second = AcceptConnection(listener.Get());
  if (pair.second.Get() < 0) throw std::runtime_error("accept failed");
  return pair;
}

bool WaitReadable(int fd, int timeout_ms) { return PollReadable(fd, timeout_ms); }

LoopbackPeer::LoopbackPeer(Serve serve, int backlog) : serve_(std::move(serve)) {
  listener_ = ListenOnLoopback(backlog, &port_);
  thread_ = std::thread(&LoopbackPeer::Run, this);
}

LoopbackPeer::~LoopbackPeer() {
  stopping_ = true;
#if defined(_WIN32)
  // Under Wine a shutdown does not wake a receive blocked on another thread;
  // closing the socket cancels it, on Windows too. The serving thread then
  // leaves the closed socket alone (see Run).
  int fd = serving_fd_.exchange(-1);
  if (fd >= 0) {
    shutdown(Native(fd), kShutBoth);
    CloseNative(fd);
  }
#else
  int fd = serving_fd_.load();
  if (fd >= 0) shutdown(Native(fd), kShutBoth);
#endif
  thread_.join();
}

void LoopbackPeer::Run() {
  while (!stopping_) {
    if (!PollReadable(listener_.Get(), 20)) continue;
    ScopedFd connection = AcceptConnection(listener_.Get());
    if (connection.Get() < 0) continue;
    ++accepted_;
    serving_fd_ = connection.Get();
    if (!stopping_) serve_(connection.Get());
    // Closed already when the destructor took it.
    if (serving_fd_.exchange(-1) < 0) connection.Release();
  }
}

BlackholeListener::BlackholeListener() {
  // Backlog 0: the smallest queue the system allows, filled by one or two
  // connections that nobody accepts. Connect until one hangs: from then on
  // the queue is full. The hanging one stays too, so that its retries find
  // no free place.
  listener_ = ListenOnLoopback(0, &port_);
  for (int i = 0; i < 16; ++i) {
    ScopedFd filler(NewSocket(true));
    if (filler.Get() < 0) throw std::runtime_error("socket failed");
    const bool pending = Connect(filler.Get(), port_) != 0;
    if (pending && !ConnectPending()) throw std::runtime_error("connect to the blackhole failed");
    const bool hangs = pending && !ConnectEnded(filler.Get(), 300);
    fillers_.push_back(std::move(filler));
    if (hangs) return;
  }
  throw std::runtime_error("the accept queue of the blackhole does not fill up");
}

int RefusedPort() {
  // A port merely freed again could be handed out as the local port of the
  // very connect that targets it, and a socket connecting to its own address
  // and port connects to itself. Bound for the whole process, never listening,
  // the port refuses every connect and is no one's local port.
  static const ScopedFd bound = [] {
    ScopedFd fd(NewSocket(false));
    sockaddr_in address = Loopback(0);
    if (fd.Get() < 0 ||
        bind(Native(fd.Get()), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("bind failed");
    }
    return fd;
  }();
  sockaddr_in address{};
  AddressLength length = sizeof address;
  getsockname(Native(bound.Get()), reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    int chunk = static_cast<int>(std::min<std::size_t>(size - done, 1 << 20));
    auto n = send(Native(fd), data + done, chunk, kNoSignal);
    if (n <= 0) {
      if (n < 0 && Interrupted()) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, const std::string& bytes) { return WriteAll(fd, bytes.data(), bytes.size()); }

std::string ReadSome(int fd, std::size_t count) {
  std::string data;
  char buffer[4096];
  while (data.size() < count) {
    int want = static_cast<int>(std::min(sizeof buffer, count - data.size()));
    auto n = recv(Native(fd), buffer, want, 0);
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

void CloseWithReset(int fd) {
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(Native(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option),
             sizeof option);
}

}  // namespace testing_support
