// libws2_32.so over loopback: start-up, the last error, a full round trip,
// connection ends, shutdown, descriptors and the address helpers.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/sockets_posix/testing/ws2_32_fixture.h"

namespace {

using std::chrono::milliseconds;

TEST(Ws2ExportsTest, LoadsByFileNameAndExportsEveryWindowsName) {
  const Ws2& api = Api();
  EXPECT_TRUE(api.problem.empty()) << api.problem;
}

class StartupTest : public Ws2Test {};

TEST_F(StartupTest, NegotiatesTheVersion) {
  struct Case {
    std::uint16_t requested;
    int result;
    std::uint16_t version;  // expected wVersion when the result is 0
  } cases[] = {
      {0x0202, 0, 0x0202},  // 2.2
      {0x0101, 0, 0x0101},  // 1.1, the lowest
      {0x0002, 0, 0x0002},  // 2.0
      {0x0303, 0, 0x0202},  // 3.3: the best we have
      {0x0100, 10092, 0},   // 0.1
      {0x0001, 10092, 0},   // 1.0
      {0x0000, 10092, 0},
  };
  for (const Case& c : cases) {
    ws::WsaData data{};
    EXPECT_EQ(ws2.WSAStartup(c.requested, &data), c.result) << std::hex << c.requested;
    if (c.result == 0) {
      EXPECT_EQ(data.wVersion, c.version) << std::hex << c.requested;
      EXPECT_EQ(data.wHighVersion, 0x0202);
    }
  }
  EXPECT_EQ(ws2.WSAStartup(0x0202, nullptr), 10014);
  EXPECT_EQ(ws2.WSACleanup(), 0);
}

TEST_F(StartupTest, StartupWritesOnlyTheVersionFields) {
  ws::WsaData data;
  std::memset(&data, 0xAB, sizeof data);
  ASSERT_EQ(ws2.WSAStartup(0x0202, &data), 0);
  for (unsigned char byte : data.rest) ASSERT_EQ(byte, 0xAB);
}

TEST_F(StartupTest, LastErrorBelongsToTheCallingThread) {
  ws2.WSASetLastError(12345);
  int other_thread_sees = -1;
  std::thread([&] {
    other_thread_sees = ws2.WSAGetLastError();
    ws2.WSASetLastError(777);
  }).join();
  EXPECT_EQ(other_thread_sees, 0);
  EXPECT_EQ(ws2.WSAGetLastError(), 12345);
}

class LoopbackTest : public Ws2Test {};

// Every call here has a C library namesake; the library is linked so that a
// by-name call to one of them would recurse (see CMakeLists.txt), so this
// round trip also proves that they reach the system and not themselves.
TEST_F(LoopbackTest, RoundTripThroughTheLibraryOnly) {
  WsSocket listener(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ASSERT_NE(listener.get(), ws::kInvalidSocket) << ws2.WSAGetLastError();
  ws::SockAddrIn any_port = Loopback(0);
  ASSERT_EQ(ws2.bind(listener.get(), AsSockAddr(any_port), sizeof any_port), 0);
  ASSERT_EQ(ws2.listen(listener.get(), 5), 0);
  ws::SockAddrIn bound{};
  int length = sizeof bound;
  ASSERT_EQ(ws2.getsockname(listener.get(), reinterpret_cast<ws::SockAddr*>(&bound), &length), 0);
  EXPECT_EQ(length, 16);
  EXPECT_EQ(bound.sin_family, ws::kAfInet);
  EXPECT_EQ((ws2.ntohl)(bound.sin_addr.s_addr), 0x7F000001U);
  std::uint16_t port = (ws2.ntohs)(bound.sin_port);
  ASSERT_NE(port, 0);

  WsSocket client = WsConnected(port);
  ws::SockAddrIn peer{};
  length = sizeof peer;
  WsSocket server(ws2.accept(listener.get(), reinterpret_cast<ws::SockAddr*>(&peer), &length));
  ASSERT_NE(server.get(), ws::kInvalidSocket) << ws2.WSAGetLastError();
  EXPECT_EQ(length, 16);
  ws::SockAddrIn client_name{};
  length = sizeof client_name;
  ASSERT_EQ(ws2.getsockname(client.get(), reinterpret_cast<ws::SockAddr*>(&client_name), &length),
            0);
  EXPECT_EQ(peer.sin_port, client_name.sin_port);
  ws::SockAddrIn server_seen_by_client{};
  length = sizeof server_seen_by_client;
  ASSERT_EQ(ws2.getpeername(client.get(), reinterpret_cast<ws::SockAddr*>(&server_seen_by_client),
                            &length),
            0);
  EXPECT_EQ((ws2.ntohs)(server_seen_by_client.sin_port), port);

  const std::string request = "GET /\r\n";
  ASSERT_EQ(ws2.send(client.get(), request.data(), static_cast<int>(request.size()), 0),
            static_cast<int>(request.size()));
  char buffer[64];
  int received = ws2.recv(server.get(), buffer, sizeof buffer, 0);
  ASSERT_EQ(received, static_cast<int>(request.size())) << ws2.WSAGetLastError();
  ASSERT_EQ(ws2.send(server.get(), buffer, received, 0), received);
  ASSERT_EQ(ws2.recv(client.get(), buffer, sizeof buffer, 0), received);
  EXPECT_EQ(std::string(buffer, received), request);
}

TEST_F(LoopbackTest, ConnectToARefusingPortFailsWith10061) {
  std::uint16_t port;
  UniqueFd refusing = RefusingPort(&port);
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ws::SockAddrIn address = Loopback(port);
  EXPECT_EQ(ws2.connect(s.get(), AsSockAddr(address), sizeof address), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10061);
}

TEST_F(LoopbackTest, PeerThatSendsAndClosesGivesAllBytesThenZero) {
  std::uint16_t port;
  UniqueFd listener = PosixListener(1, &port);
  WsSocket client = WsConnected(port);
  UniqueFd peer = PosixAccept(listener.Get());
  ASSERT_GE(peer.Get(), 0);
  // More than one receive buffer's worth, so that it arrives in pieces.
  std::vector<char> sent(300000);
  for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7);
  std::thread writer([&] {
    std::size_t done = 0;
    while (done < sent.size()) {
      ssize_t n = write(peer.Get(), sent.data() + done, sent.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(peer.Release());
  });
  std::vector<char> received;
  char buffer[32768];
  int n;
  while ((n = ws2.recv(client.get(), buffer, sizeof buffer, 0)) > 0) {
    received.insert(received.end(), buffer, buffer + n);
  }
  writer.join();
  EXPECT_EQ(n, 0) << ws2.WSAGetLastError();
  EXPECT_EQ(received, sent);
  EXPECT_EQ(ws2.recv(client.get(), buffer, sizeof buffer, 0), 0);  // and stays at the end
}

TEST_F(LoopbackTest, PeerThatResetsGives10054) {
  std::uint16_t port;
  UniqueFd listener = PosixListener(1, &port);
  WsSocket client = WsConnected(port);
  UniqueFd peer = PosixAccept(listener.Get());
  ASSERT_GE(peer.Get(), 0);
  linger abort_on_close{1, 0};
  ASSERT_EQ(setsockopt(peer.Get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close),
            0);
  close(peer.Release());
  char buffer[16];
  EXPECT_EQ(ws2.recv(client.get(), buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10054);
}

TEST_F(LoopbackTest, SendToAPeerThatLeftFailsWithoutSigpipe) {
  // The default action of SIGPIPE ends the process, so surviving is the test.
  struct sigaction previous;
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigaction(SIGPIPE, &default_action, &previous);
  std::uint16_t port;
  UniqueFd listener = PosixListener(1, &port);
  WsSocket client = WsConnected(port);
  close(PosixAccept(listener.Get()).Release());
  const char data[1024] = {};
  int result = 0;
  for (int i = 0; i < 100 && result >= 0; ++i) {
    result = ws2.send(client.get(), data, sizeof data, 0);
    std::this_thread::sleep_for(milliseconds(5));
  }
  sigaction(SIGPIPE, &previous, nullptr);
  ASSERT_EQ(result, -1);
  int error = ws2.WSAGetLastError();
  EXPECT_TRUE(error == 10054 || error == 10058) << error;
}

TEST_F(LoopbackTest, UseAfterShutdownFailsWith10058) {
  struct Case {
    int how;
    bool send_fails;
    bool receive_fails;
  } cases[] = {
      {ws::kSdSend, true, false},
      {ws::kSdReceive, false, true},
      {ws::kSdBoth, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.how);
    std::uint16_t port;
    UniqueFd listener = PosixListener(1, &port);
    WsSocket client = WsConnected(port);
    UniqueFd peer = PosixAccept(listener.Get());
    ASSERT_GE(peer.Get(), 0);
    ASSERT_EQ(write(peer.Get(), "x", 1), 1);
    ASSERT_EQ(ws2.shutdown(client.get(), c.how), 0);
    char byte;
    int received = ws2.recv(client.get(), &byte, 1, 0);
    if (c.receive_fails) {
      EXPECT_EQ(received, -1);
      EXPECT_EQ(ws2.WSAGetLastError(), 10058);
    } else {
      EXPECT_EQ(received, 1);
    }
    int sent = ws2.send(client.get(), "y", 1, 0);
    if (c.send_fails) {
      EXPECT_EQ(sent, -1);
      EXPECT_EQ(ws2.WSAGetLastError(), 10058);
    } else {
      EXPECT_EQ(sent, 1);
    }
  }
}

TEST_F(LoopbackTest, SocketsAreCloseOnExec) {
  std::uint16_t port;
  WsSocket listener(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ASSERT_NE(listener.get(), ws::kInvalidSocket);
  ws::SockAddrIn any_port = Loopback(0);
  ASSERT_EQ(ws2.bind(listener.get(), AsSockAddr(any_port), sizeof any_port), 0);
  ASSERT_EQ(ws2.listen(listener.get(), 1), 0);
  ws::SockAddrIn bound{};
  int length = sizeof bound;
  ASSERT_EQ(ws2.getsockname(listener.get(), reinterpret_cast<ws::SockAddr*>(&bound), &length), 0);
  port = ntohs(bound.sin_port);
  WsSocket client = WsConnected(port);
  WsSocket accepted(ws2.accept(listener.get(), nullptr, nullptr));
  ASSERT_NE(accepted.get(), ws::kInvalidSocket) << ws2.WSAGetLastError();
  for (ws::Socket s : {listener.get(), client.get(), accepted.get()}) {
    int flags = fcntl(static_cast<int>(s), F_GETFD);
    ASSERT_GE(flags, 0);
    EXPECT_NE(flags & FD_CLOEXEC, 0) << s;
  }
}

TEST_F(LoopbackTest, ClosedSocketIsGoneAndRefusedAfterwards) {
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ASSERT_NE(s.get(), ws::kInvalidSocket);
  ws::Socket value = s.Release();
  int before = OpenDescriptorCount();
  ASSERT_EQ(ws2.closesocket(value), 0);
  EXPECT_EQ(OpenDescriptorCount(), before - 1);
  EXPECT_FALSE(IsOpen(static_cast<int>(value)));
  EXPECT_EQ(ws2.closesocket(value), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10009);  // the system's "bad descriptor"
}

TEST_F(LoopbackTest, InvalidArgumentsGiveTheWindowsErrors) {
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ASSERT_NE(s.get(), ws::kInvalidSocket);
  ws::SockAddrIn address = Loopback(0);
  ws::SockAddrIn ipv6 = address;
  ipv6.sin_family = 23;
  char buffer[4];
  std::uint32_t value = 0;
  auto failed = [](ws::Socket created) { return created == ws::kInvalidSocket ? -1 : 0; };
  struct Case {
    const char* what;
    std::function<int()> call;
    int error;
  } cases[] = {
      {"socket IPv6", [&] { return failed(ws2.socket(23, ws::kSockStream, 0)); }, 10047},
      {"socket bad type", [&] { return failed(ws2.socket(ws::kAfInet, 99, 0)); }, 10044},
      {"recv INVALID_SOCKET", [&] { return ws2.recv(ws::kInvalidSocket, buffer, 1, 0); }, 10038},
      {"closesocket INVALID_SOCKET", [&] { return ws2.closesocket(ws::kInvalidSocket); }, 10038},
      {"bind short address", [&] { return ws2.bind(s.get(), AsSockAddr(address), 8); }, 10014},
      {"bind null address", [&] { return ws2.bind(s.get(), nullptr, 16); }, 10014},
      {"bind other family", [&] { return ws2.bind(s.get(), AsSockAddr(ipv6), sizeof ipv6); },
       10047},
      {"recv negative length", [&] { return ws2.recv(s.get(), buffer, -1, 0); }, 10014},
      {"recv unknown flag", [&] { return ws2.recv(s.get(), buffer, 1, 0x40); }, 10045},
      {"send with a receive flag", [&] { return ws2.send(s.get(), buffer, 1, ws::kMsgPeek); },
       10045},
      {"recv unconnected", [&] { return ws2.recv(s.get(), buffer, 1, 0); }, 10057},
      {"getpeername null", [&] { return ws2.getpeername(s.get(), nullptr, nullptr); }, 10014},
      {"getpeername unconnected",
       [&] {
         ws::SockAddrIn name;
         int length = sizeof name;
         return ws2.getpeername(s.get(), reinterpret_cast<ws::SockAddr*>(&name), &length);
       },
       10057},
      {"shutdown bad direction", [&] { return ws2.shutdown(s.get(), 7); }, 10022},
      {"ioctlsocket unknown", [&] { return ws2.ioctlsocket(s.get(), 0x12345, &value); }, 10022},
      {"ioctlsocket null", [&] { return ws2.ioctlsocket(s.get(), ws::kFionbio, nullptr); }, 10014},
  };
  for (const Case& c : cases) {
    ws2.WSASetLastError(0);
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(ws2.WSAGetLastError(), c.error) << c.what;
  }
}

TEST_F(LoopbackTest, IoctlSocketSwitchesBlockingAndCountsPendingBytes) {
  std::uint16_t port;
  UniqueFd listener = PosixListener(1, &port);
  WsSocket client = WsConnected(port);
  UniqueFd peer = PosixAccept(listener.Get());
  ASSERT_GE(peer.Get(), 0);
  std::uint32_t on = 1;
  ASSERT_EQ(ws2.ioctlsocket(client.get(), ws::kFionbio, &on), 0);
  char buffer[16];
  EXPECT_EQ(ws2.recv(client.get(), buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10035);
  ASSERT_EQ(write(peer.Get(), "hello", 5), 5);
  std::uint32_t pending = 0;
  for (int i = 0; i < 200 && pending < 5; ++i) {
    ASSERT_EQ(ws2.ioctlsocket(client.get(), ws::kFionread, &pending), 0);
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_EQ(pending, 5U);
  std::uint32_t off = 0;
  ASSERT_EQ(ws2.ioctlsocket(client.get(), ws::kFionbio, &off), 0);
  EXPECT_EQ(fcntl(static_cast<int>(client.get()), F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(ws2.recv(client.get(), buffer, sizeof buffer, ws::kMsgPeek), 5);
  EXPECT_EQ(ws2.recv(client.get(), buffer, sizeof buffer, 0), 5);
}

TEST_F(LoopbackTest, ByteOrderAndAddressText) {
  EXPECT_EQ((ws2.htons)(0x1234), htons(0x1234));
  EXPECT_EQ((ws2.ntohs)(htons(0x1234)), 0x1234);
  EXPECT_EQ((ws2.htonl)(0x01020304U), htonl(0x01020304U));
  EXPECT_EQ((ws2.ntohl)(htonl(0x01020304U)), 0x01020304U);
  struct Case {
    const char* text;
    std::uint32_t host_order;  // 0xFFFFFFFF: INADDR_NONE
  } cases[] = {
      {"127.0.0.1", 0x7F000001U},       {"10.0.0.1", 0x0A000001U}, {"0.0.0.0", 0},
      {"255.255.255.255", 0xFFFFFFFFU}, {"1.2.3", 0x01020003U},    {"0x7f.1", 0x7F000001U},
      {"256.1.1.1", 0xFFFFFFFFU},       {"bogus", 0xFFFFFFFFU},    {"", 0xFFFFFFFFU},
      {"1.2.3.4.5", 0xFFFFFFFFU},
  };
  for (const Case& c : cases) {
    EXPECT_EQ((ws2.inet_addr)(c.text), htonl(c.host_order)) << c.text;
  }
  EXPECT_EQ((ws2.inet_addr)(nullptr), 0xFFFFFFFFU);
  for (const char* text : {"127.0.0.1", "192.168.100.254", "0.0.0.0", "255.255.255.255"}) {
    ws::InAddr address{(ws2.inet_addr)(text)};
    EXPECT_STREQ((ws2.inet_ntoa)(address), text);
  }
}

}  // namespace
