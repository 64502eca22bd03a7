#pragma once

// What the tests of libws2_32.so share: the library loaded and bound by name
// as the transport does it, and small loopback helpers. Peers on the other
// end of a connection use the system's own sockets, so that a fault of the
// library cannot hide behind the same fault on both ends.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include <unistd.h>

#include "platform/sockets_abi.h"
#include "platform/unique_fd_posix.h"

/// The library's functions, looked up by their exported names.
struct Ws2 {
  std::string problem;  // empty when the library and every name were found
  ws::WSAStartupFn WSAStartup;
  ws::WSACleanupFn WSACleanup;
  ws::WSAGetLastErrorFn WSAGetLastError;
  ws::WSASetLastErrorFn WSASetLastError;
  ws::SocketFn socket;
  ws::BindFn bind;
  ws::ConnectFn connect;
  ws::ListenFn listen;
  ws::AcceptFn accept;
  ws::SelectFn select;
  ws::RecvFn recv;
  ws::RecvFromFn recvfrom;
  ws::SendFn send;
  ws::SendToFn sendto;
  ws::ShutdownFn shutdown;
  ws::CloseSocketFn closesocket;
  ws::SetSockOptFn setsockopt;
  ws::GetSockOptFn getsockopt;
  ws::GetSockNameFn getsockname;
  ws::GetPeerNameFn getpeername;
  ws::IoctlSocketFn ioctlsocket;
  ws::GetHostByNameFn gethostbyname;
  ws::GetHostByAddrFn gethostbyaddr;
  ws::GetHostNameFn gethostname;
  ws::GetServByNameFn getservbyname;
  ws::GetServByPortFn getservbyport;
  ws::Htons16Fn htons;
  ws::Htons16Fn ntohs;
  ws::Htonl32Fn htonl;
  ws::Htonl32Fn ntohl;
  ws::InetAddrFn inet_addr;
  ws::InetNtoaFn inet_ntoa;
};

/// Loads libws2_32.so once per process, through the platform layer.
const Ws2& Api();

/// Base of every test that calls the library: fails at once when it could not
/// be loaded, and runs WSAStartup as the transport does.
class Ws2Test : public ::testing::Test {
 protected:
  void SetUp() override;
  const Ws2& ws2 = Api();
};

/// A socket of the library, closed with closesocket at the end.
class WsSocket final {
 public:
  explicit WsSocket(ws::Socket s = ws::kInvalidSocket) : s_(s) {}
  ~WsSocket();
  WsSocket(WsSocket&& other) noexcept : s_(other.Release()) {}
  WsSocket& operator=(WsSocket&& other) noexcept;
  ws::Socket get() const { return s_; }
  ws::Socket Release();

 private:
  ws::Socket s_;
};

/// 127.0.0.1:port in the Windows layout.
ws::SockAddrIn Loopback(std::uint16_t port);
const ws::SockAddr* AsSockAddr(const ws::SockAddrIn& address);

/// A system listener on 127.0.0.1 with an ephemeral port.
UniqueFd PosixListener(int backlog, std::uint16_t* port);
/// A system socket bound to 127.0.0.1 but not listening: connecting to its
/// port is refused, and the port stays taken while it lives.
UniqueFd RefusingPort(std::uint16_t* port);
/// accept() on a system listener, waiting at most `ms`; -1 on time-out.
UniqueFd PosixAccept(int listener, int ms = 5000);

/// A library stream socket connected to 127.0.0.1:port (asserts on failure).
WsSocket WsConnected(std::uint16_t port);

/// Number of descriptors the process has open.
int OpenDescriptorCount();

/// Whether `fd` is an open descriptor.
bool IsOpen(int fd);
