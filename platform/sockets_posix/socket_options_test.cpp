// Socket options in Windows numbering and layouts.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdint>
#include <cstring>

#include "platform/sockets_posix/testing/ws2_32_fixture.h"

namespace {

class SocketOptionsTest : public Ws2Test {
 protected:
  int SetInt(ws::Socket s, int level, int name, std::int32_t value) {
    return ws2.setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
  }
  // The option's 32-bit value, or -99 with a test failure.
  std::int32_t GetInt(ws::Socket s, int level, int name) {
    std::int32_t value = -99;
    int length = sizeof value;
    EXPECT_EQ(ws2.getsockopt(s, level, name, reinterpret_cast<char*>(&value), &length), 0)
        << std::hex << name << std::dec << " error " << ws2.WSAGetLastError();
    EXPECT_EQ(length, 4);
    return value;
  }
};

TEST_F(SocketOptionsTest, ValuesRoundTrip) {
  struct Case {
    const char* what;
    int level;
    int name;
    std::int32_t value;
  } cases[] = {
      {"SO_REUSEADDR on", ws::kSolSocket, ws::kSoReuseAddr, 1},
      {"SO_REUSEADDR off", ws::kSolSocket, ws::kSoReuseAddr, 0},
      {"SO_KEEPALIVE", ws::kSolSocket, ws::kSoKeepAlive, 1},
      {"SO_OOBINLINE", ws::kSolSocket, ws::kSoOobInline, 1},
      {"TCP_NODELAY on", ws::kIpProtoTcp, ws::kTcpNoDelay, 1},
      {"TCP_NODELAY off", ws::kIpProtoTcp, ws::kTcpNoDelay, 0},
      {"SO_RCVBUF", ws::kSolSocket, ws::kSoRcvBuf, 65536},
      {"SO_SNDBUF", ws::kSolSocket, ws::kSoSndBuf, 32768},
      {"SO_RCVTIMEO", ws::kSolSocket, ws::kSoRcvTimeo, 1500},
      {"SO_SNDTIMEO", ws::kSolSocket, ws::kSoSndTimeo, 2000},
      {"SO_RCVTIMEO none", ws::kSolSocket, ws::kSoRcvTimeo, 0},
      {"TCP_KEEPIDLE", ws::kIpProtoTcp, ws::kTcpKeepIdle, 60},
      {"TCP_KEEPINTVL", ws::kIpProtoTcp, ws::kTcpKeepIntvl, 10},
      {"TCP_KEEPCNT", ws::kIpProtoTcp, ws::kTcpKeepCnt, 6},
      {"TCP_MAXRT", ws::kIpProtoTcp, ws::kTcpMaxRt, 120},
      {"TCP_MAXRT none", ws::kIpProtoTcp, ws::kTcpMaxRt, 0},
  };
  for (const Case& c : cases) {
    WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
    ASSERT_EQ(SetInt(s.get(), c.level, c.name, c.value), 0) << c.what;
    EXPECT_EQ(GetInt(s.get(), c.level, c.name), c.value) << c.what;
  }
}

TEST_F(SocketOptionsTest, LingerUsesTheWindowsRecord) {
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ws::Linger set{1, 7};
  ASSERT_EQ(ws2.setsockopt(s.get(), ws::kSolSocket, ws::kSoLinger,
                           reinterpret_cast<const char*>(&set), sizeof set),
            0);
  ws::Linger got{};
  int length = sizeof got;
  ASSERT_EQ(ws2.getsockopt(s.get(), ws::kSolSocket, ws::kSoLinger, reinterpret_cast<char*>(&got),
                           &length),
            0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(got.l_onoff, 1);
  EXPECT_EQ(got.l_linger, 7);
  // And the system really lingers: its own record says so.
  linger system{};
  socklen_t system_length = sizeof system;
  ASSERT_EQ(getsockopt(static_cast<int>(s.get()), SOL_SOCKET, SO_LINGER, &system, &system_length),
            0);
  EXPECT_EQ(system.l_onoff, 1);
  EXPECT_EQ(system.l_linger, 7);
}

// The system takes the keep-alive times in seconds as Windows does, and the
// longest retransmission time in milliseconds where Windows counts seconds.
TEST_F(SocketOptionsTest, DeadPathOptionsReachTheSystemInItsUnits) {
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  const int fd = static_cast<int>(s.get());
  struct Case {
    const char* what;
    int ws_name;
    std::int32_t value;
    int name;
    unsigned int system_value;
  } cases[] = {
      {"idle", ws::kTcpKeepIdle, 5, TCP_KEEPIDLE, 5},
      {"interval", ws::kTcpKeepIntvl, 2, TCP_KEEPINTVL, 2},
      {"count", ws::kTcpKeepCnt, 3, TCP_KEEPCNT, 3},
      {"user time-out", ws::kTcpMaxRt, 10, TCP_USER_TIMEOUT, 10000},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SetInt(s.get(), ws::kIpProtoTcp, c.ws_name, c.value), 0) << c.what;
    unsigned int system = 0;
    socklen_t length = sizeof system;
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, c.name, &system, &length), 0) << c.what;
    EXPECT_EQ(system, c.system_value) << c.what;
  }
}

TEST_F(SocketOptionsTest, DeadPathValuesOutOfRangeAreRefusedAsInvalid) {
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  struct Case {
    const char* what;
    int name;
    std::int32_t value;
  } cases[] = {
      {"negative time-out", ws::kTcpMaxRt, -1},
      {"time-out beyond the system's milliseconds", ws::kTcpMaxRt, 4294968},
      {"no idle time", ws::kTcpKeepIdle, 0},
      {"idle beyond the system's limit", ws::kTcpKeepIdle, 32768},
      {"probe count beyond the system's limit", ws::kTcpKeepCnt, 128},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetInt(s.get(), ws::kIpProtoTcp, c.name, c.value), -1) << c.what;
    EXPECT_EQ(ws2.WSAGetLastError(), 10022) << c.what;
  }
}

TEST_F(SocketOptionsTest, TypeAndPendingErrorAreReportedInWindowsNumbers) {
  WsSocket stream(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  WsSocket datagram(ws2.socket(ws::kAfInet, ws::kSockDgram, 0));
  EXPECT_EQ(GetInt(stream.get(), ws::kSolSocket, ws::kSoType), 1);
  EXPECT_EQ(GetInt(datagram.get(), ws::kSolSocket, ws::kSoType), 2);

  std::uint16_t port;
  UniqueFd refusing = RefusingPort(&port);
  std::uint32_t on = 1;
  ASSERT_EQ(ws2.ioctlsocket(stream.get(), ws::kFionbio, &on), 0);
  ws::SockAddrIn address = Loopback(port);
  ws2.connect(stream.get(), AsSockAddr(address), sizeof address);
  ws::FdSet failed{1, {stream.get()}};
  ws::TimeVal patience{5, 0};
  ASSERT_EQ(ws2.select(0, nullptr, nullptr, &failed, &patience), 1);
  EXPECT_EQ(GetInt(stream.get(), ws::kSolSocket, ws::kSoError), 10061);
  EXPECT_EQ(GetInt(stream.get(), ws::kSolSocket, ws::kSoError), 0);  // reading clears it
}

TEST_F(SocketOptionsTest, ReceiveTimeOutEndsABlockingReceiveWith10060) {
  std::uint16_t port;
  UniqueFd listener = PosixListener(1, &port);
  WsSocket s = WsConnected(port);
  UniqueFd peer = PosixAccept(listener.Get());
  ASSERT_EQ(SetInt(s.get(), ws::kSolSocket, ws::kSoRcvTimeo, 200), 0);
  char byte;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ws2.recv(s.get(), &byte, 1, 0), -1);
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
  EXPECT_EQ(ws2.WSAGetLastError(), 10060);
  EXPECT_GE(waited, 180);
  EXPECT_LT(waited, 3000);
}

TEST_F(SocketOptionsTest, UnknownOptionsAndShortBuffersAreRefused) {
  WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  std::int32_t value = 1;
  const char* v = reinterpret_cast<const char*>(&value);
  char out[4];
  int out_length = sizeof out;
  int short_length = 2;
  struct Case {
    const char* what;
    int result;
    int error;
  };
  auto run = [&](const char* what, int result) {
    return Case{what, result, ws2.WSAGetLastError()};
  };
  const Case cases[] = {
      run("unknown socket option", ws2.setsockopt(s.get(), ws::kSolSocket, 0x7777, v, 4)),
      run("unknown level", ws2.setsockopt(s.get(), 41, 1, v, 4)),
      run("unknown TCP option", ws2.setsockopt(s.get(), ws::kIpProtoTcp, 0x77, v, 4)),
      run("SO_ERROR is read-only", ws2.setsockopt(s.get(), ws::kSolSocket, ws::kSoError, v, 4)),
      run("SO_TYPE is read-only", ws2.setsockopt(s.get(), ws::kSolSocket, ws::kSoType, v, 4)),
      run("get unknown", ws2.getsockopt(s.get(), ws::kSolSocket, 0x7777, out, &out_length)),
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.result, -1) << c.what;
    EXPECT_EQ(c.error, 10042) << c.what;
  }
  const Case faults[] = {
      run("set short", ws2.setsockopt(s.get(), ws::kSolSocket, ws::kSoKeepAlive, v, 2)),
      run("set null", ws2.setsockopt(s.get(), ws::kSolSocket, ws::kSoKeepAlive, nullptr, 4)),
      run("get short",
          ws2.getsockopt(s.get(), ws::kSolSocket, ws::kSoKeepAlive, out, &short_length)),
      run("get null length",
          ws2.getsockopt(s.get(), ws::kSolSocket, ws::kSoKeepAlive, out, nullptr)),
  };
  for (const Case& c : faults) {
    EXPECT_EQ(c.result, -1) << c.what;
    EXPECT_EQ(c.error, 10014) << c.what;
  }
}

}  // namespace
