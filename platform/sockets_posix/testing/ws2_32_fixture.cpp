#include "platform/sockets_posix/testing/ws2_32_fixture.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/dynamic_library.h"

namespace {

template <typename Function>
void Bind(const DynamicLibrary& library, const char* name, Function* slot, std::string* problem) {
  *slot = reinterpret_cast<Function>(library.Symbol(name));
  if (*slot == nullptr) *problem += std::string(" missing export ") + name + ";";
}

Ws2 Load() {
  Ws2 api{};
  std::int32_t code = 0;
  // Kept for the life of the process, as the transport keeps it.
  static std::unique_ptr<DynamicLibrary> library =
      DynamicLibrary::Load(SOCKETS_LIBRARY_PATH, &code);
  if (library == nullptr) {
    api.problem = std::string("cannot load ") + SOCKETS_LIBRARY_PATH + ": " + SystemErrorText(code);
    return api;
  }
  const DynamicLibrary& lib = *library;
  std::string* p = &api.problem;
  Bind(lib, "WSAStartup", &api.WSAStartup, p);
  Bind(lib, "WSACleanup", &api.WSACleanup, p);
  Bind(lib, "WSAGetLastError", &api.WSAGetLastError, p);
  Bind(lib, "WSASetLastError", &api.WSASetLastError, p);
  Bind(lib, "socket", &api.socket, p);
  Bind(lib, "bind", &api.bind, p);
  Bind(lib, "connect", &api.connect, p);
  Bind(lib, "listen", &api.listen, p);
  Bind(lib, "accept", &api.accept, p);
  Bind(lib, "select", &api.select, p);
  Bind(lib, "recv", &api.recv, p);
  Bind(lib, "recvfrom", &api.recvfrom, p);
  Bind(lib, "send", &api.send, p);
  Bind(lib, "sendto", &api.sendto, p);
  Bind(lib, "shutdown", &api.shutdown, p);
  Bind(lib, "closesocket", &api.closesocket, p);
  Bind(lib, "setsockopt", &api.setsockopt, p);
  Bind(lib, "getsockopt", &api.getsockopt, p);
  Bind(lib, "getsockname", &api.getsockname, p);
  Bind(lib, "getpeername", &api.getpeername, p);
  Bind(lib, "ioctlsocket", &api.ioctlsocket, p);
  Bind(lib, "gethostbyname", &api.gethostbyname, p);
  Bind(lib, "gethostbyaddr", &api.gethostbyaddr, p);
  Bind(lib, "gethostname", &api.gethostname, p);
  Bind(lib, "getservbyname", &api.getservbyname, p);
  Bind(lib, "getservbyport", &api.getservbyport, p);
  Bind(lib, "htons", &api.htons, p);
  Bind(lib, "ntohs", &api.ntohs, p);
  Bind(lib, "htonl", &api.htonl, p);
  Bind(lib, "ntohl", &api.ntohl, p);
  Bind(lib, "inet_addr", &api.inet_addr, p);
  Bind(lib, "inet_ntoa", &api.inet_ntoa, p);
  return api;
}

}  // namespace

const Ws2& Api() {
  static const Ws2 api = Load();
  return api;
}

void Ws2Test::SetUp() {
  ASSERT_TRUE(ws2.problem.empty()) << ws2.problem;
  ws::WsaData data{};
  ASSERT_EQ(ws2.WSAStartup(0x0202, &data), 0);
}

WsSocket::~WsSocket() {
  if (s_ != ws::kInvalidSocket) Api().closesocket(s_);
}

WsSocket& WsSocket::operator=(WsSocket&& other) noexcept {
  if (this != &other) {
    if (s_ != ws::kInvalidSocket) Api().closesocket(s_);
    s_ = other.Release();
  }
  return *this;
}

ws::Socket WsSocket::Release() {
  ws::Socket s = s_;
  s_ = ws::kInvalidSocket;
  return s;
}

ws::SockAddrIn Loopback(std::uint16_t port) {
  ws::SockAddrIn address{};
  address.sin_family = ws::kAfInet;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

const ws::SockAddr* AsSockAddr(const ws::SockAddrIn& address) {
  return reinterpret_cast<const ws::SockAddr*>(&address);
}

namespace {

UniqueFd BoundLoopbackSocket(std::uint16_t* port) {
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  EXPECT_GE(fd.Get(), 0) << std::strerror(errno);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
      << std::strerror(errno);
  socklen_t length = sizeof address;
  EXPECT_EQ(getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

UniqueFd PosixListener(int backlog, std::uint16_t* port) {
  UniqueFd fd = BoundLoopbackSocket(port);
  EXPECT_EQ(listen(fd.Get(), backlog), 0) << std::strerror(errno);
  return fd;
}

UniqueFd RefusingPort(std::uint16_t* port) { return BoundLoopbackSocket(port); }

UniqueFd PosixAccept(int listener, int ms) {
  pollfd entry{listener, POLLIN, 0};
  if (poll(&entry, 1, ms) != 1) return UniqueFd();
  return UniqueFd(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
}

WsSocket WsConnected(std::uint16_t port) {
  const Ws2& api = Api();
  WsSocket s(api.socket(ws::kAfInet, ws::kSockStream, 0));
  EXPECT_NE(s.get(), ws::kInvalidSocket) << api.WSAGetLastError();
  ws::SockAddrIn address = Loopback(port);
  EXPECT_EQ(api.connect(s.get(), AsSockAddr(address), sizeof address), 0) << api.WSAGetLastError();
  return s;
}

int OpenDescriptorCount() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;  // includes ".", ".." and the directory's own descriptor
}

bool IsOpen(int fd) { return fcntl(fd, F_GETFD) >= 0; }
