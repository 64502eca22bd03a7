// select with the Windows sets: readiness rules, set size, large descriptor
// numbers, time-outs and signals.

#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "platform/sockets_posix/testing/ws2_32_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

struct Pair {
  UniqueFd ours;
  UniqueFd peer;
};

Pair SocketPair() {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

ws::FdSet SetOf(std::initializer_list<ws::Socket> sockets) {
  ws::FdSet set{};
  for (ws::Socket s : sockets) set.fd_array[set.fd_count++] = s;
  return set;
}

class SelectTest : public Ws2Test {
 protected:
  int Select(ws::FdSet* read, ws::FdSet* write, ws::FdSet* except, const ws::TimeVal* timeout) {
    return ws2.select(0, read, write, except, timeout);
  }
};

TEST_F(SelectTest, SixtyFourSocketsReportExactlyTheReadyOnesInSetOrder) {
  std::vector<Pair> pairs;
  ws::FdSet read{};
  for (int i = 0; i < ws::kFdSetSize; ++i) {
    pairs.push_back(SocketPair());
    read.fd_array[read.fd_count++] = static_cast<ws::Socket>(pairs.back().ours.Get());
  }
  std::vector<ws::Socket> expected;
  for (int i = ws::kFdSetSize - 1; i >= 0; i -= 3) {  // written in reverse order
    ASSERT_EQ(write(pairs[i].peer.Get(), "x", 1), 1);
  }
  for (int i = 0; i < ws::kFdSetSize; ++i) {
    if ((ws::kFdSetSize - 1 - i) % 3 == 0) expected.push_back(read.fd_array[i]);
  }
  ws::TimeVal patience{5, 0};
  ASSERT_EQ(Select(&read, nullptr, nullptr, &patience), static_cast<int>(expected.size()));
  ASSERT_EQ(read.fd_count, expected.size());
  EXPECT_EQ(std::vector<ws::Socket>(read.fd_array, read.fd_array + read.fd_count), expected);

  ws::FdSet too_many{};
  too_many.fd_count = ws::kFdSetSize + 1;
  EXPECT_EQ(Select(&too_many, nullptr, nullptr, &patience), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10022);
}

TEST_F(SelectTest, DescriptorNumbersAbove1023Work) {
  constexpr int kHigh = 1500;
  rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur <= kHigh) {
    if (limit.rlim_max <= kHigh) GTEST_SKIP() << "descriptor limit too low";
    rlimit raised = limit;
    raised.rlim_cur = kHigh + 1;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &raised), 0);
  }
  Pair pair = SocketPair();
  ASSERT_FALSE(IsOpen(kHigh));
  UniqueFd high(dup2(pair.ours.Get(), kHigh));
  ASSERT_EQ(high.Get(), kHigh);
  ws::FdSet read = SetOf({kHigh});
  ws::TimeVal no_wait{0, 0};
  EXPECT_EQ(Select(&read, nullptr, nullptr, &no_wait), 0);
  EXPECT_EQ(read.fd_count, 0U);
  ASSERT_EQ(write(pair.peer.Get(), "x", 1), 1);
  read = SetOf({kHigh});
  ws::TimeVal patience{5, 0};
  EXPECT_EQ(Select(&read, nullptr, nullptr, &patience), 1);
  EXPECT_EQ(read.fd_count, 1U);
  EXPECT_EQ(read.fd_array[0], static_cast<ws::Socket>(kHigh));
}

TEST_F(SelectTest, ReadinessFollowsWindowsRules) {
  std::uint16_t port;
  UniqueFd listener = PosixListener(4, &port);
  WsSocket idle = WsConnected(port);
  UniqueFd idle_peer = PosixAccept(listener.Get());
  WsSocket ended = WsConnected(port);
  close(PosixAccept(listener.Get()).Release());  // graceful close: EOF
  WsSocket reset = WsConnected(port);
  {
    UniqueFd peer = PosixAccept(listener.Get());
    linger abort_on_close{1, 0};
    setsockopt(peer.Get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  }
  // A listening socket of the library with a connection waiting.
  WsSocket ws_listener(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ws::SockAddrIn any_port = Loopback(0);
  ASSERT_EQ(ws2.bind(ws_listener.get(), AsSockAddr(any_port), sizeof any_port), 0);
  ASSERT_EQ(ws2.listen(ws_listener.get(), 1), 0);
  ws::SockAddrIn bound{};
  int length = sizeof bound;
  ws2.getsockname(ws_listener.get(), reinterpret_cast<ws::SockAddr*>(&bound), &length);
  WsSocket waiting = WsConnected((ws2.ntohs)(bound.sin_port));
  // A non-blocking connect that the peer refuses.
  std::uint16_t refused_port;
  UniqueFd refusing = RefusingPort(&refused_port);
  WsSocket refused(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  std::uint32_t on = 1;
  ws2.ioctlsocket(refused.get(), ws::kFionbio, &on);
  ws::SockAddrIn refused_address = Loopback(refused_port);
  ws2.connect(refused.get(), AsSockAddr(refused_address), sizeof refused_address);
  std::this_thread::sleep_for(milliseconds(100));  // let the FIN, RST and refusal arrive

  struct Case {
    const char* what;
    ws::Socket s;
    bool readable, writable, exceptional;
  } cases[] = {
      {"idle connection", idle.get(), false, true, false},
      {"peer closed", ended.get(), true, true, false},
      {"peer reset", reset.get(), true, false, true},
      {"listener with a pending connection", ws_listener.get(), true, false, false},
      {"refused connect", refused.get(), true, false, true},
  };
  for (const Case& c : cases) {
    ws::FdSet read_set = SetOf({c.s}), write_set = SetOf({c.s}), except_set = SetOf({c.s});
    ws::TimeVal no_wait{0, 0};
    int expected = c.readable + c.writable + c.exceptional;
    EXPECT_EQ(Select(&read_set, &write_set, &except_set, &no_wait), expected) << c.what;
    EXPECT_EQ(read_set.fd_count, c.readable ? 1U : 0U) << c.what;
    EXPECT_EQ(write_set.fd_count, c.writable ? 1U : 0U) << c.what;
    EXPECT_EQ(except_set.fd_count, c.exceptional ? 1U : 0U) << c.what;
  }
}

TEST_F(SelectTest, TimeOutsAreHonoured) {
  Pair pair = SocketPair();
  ws::Socket s = static_cast<ws::Socket>(pair.ours.Get());

  ws::FdSet read = SetOf({s});
  ws::TimeVal no_wait{0, 0};
  Clock::time_point start = Clock::now();
  EXPECT_EQ(Select(&read, nullptr, nullptr, &no_wait), 0);
  EXPECT_LT(MsSince(start), 100);
  EXPECT_EQ(read.fd_count, 0U);

  read = SetOf({s});
  ws::TimeVal short_wait{0, 150000};
  start = Clock::now();
  EXPECT_EQ(Select(&read, nullptr, nullptr, &short_wait), 0);
  long long waited = MsSince(start);
  EXPECT_GE(waited, 150);
  EXPECT_LT(waited, 2000);

  // No time-out: wait until the data comes.
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(write(pair.peer.Get(), "x", 1), 1);
  });
  read = SetOf({s});
  start = Clock::now();
  EXPECT_EQ(Select(&read, nullptr, nullptr, nullptr), 1);
  EXPECT_GE(MsSince(start), 90);
  writer.join();
}

void IgnoreSignal(int) {}

TEST_F(SelectTest, SignalsDoNotEndTheWaitEarly) {
  struct sigaction handler {};
  handler.sa_handler = IgnoreSignal;  // no SA_RESTART: poll sees EINTR
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGUSR2, &handler, &previous), 0);
  Pair pair = SocketPair();
  ws::FdSet read = SetOf({static_cast<ws::Socket>(pair.ours.Get())});
  ws::TimeVal wait{0, 300000};
  pthread_t selecting = pthread_self();
  std::atomic<bool> done{false};
  std::thread signaller([&] {
    while (!done) {
      std::this_thread::sleep_for(milliseconds(20));
      pthread_kill(selecting, SIGUSR2);
    }
  });
  Clock::time_point start = Clock::now();
  int result = Select(&read, nullptr, nullptr, &wait);
  long long waited = MsSince(start);
  done = true;
  signaller.join();
  sigaction(SIGUSR2, &previous, nullptr);
  EXPECT_EQ(result, 0) << ws2.WSAGetLastError();
  EXPECT_GE(waited, 295);
}

TEST_F(SelectTest, BadSetsAndTimeOutsAreRefused) {
  Pair pair = SocketPair();
  ws::Socket s = static_cast<ws::Socket>(pair.ours.Get());
  WsSocket closed(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  ws::Socket closed_value = closed.get();
  ASSERT_EQ(ws2.closesocket(closed.Release()), 0);
  ASSERT_FALSE(IsOpen(static_cast<int>(closed_value)));

  ws::TimeVal no_wait{0, 0};
  ws::TimeVal negative{-1, 0};
  ws::FdSet empty{};
  struct Case {
    const char* what;
    ws::FdSet read;
    const ws::TimeVal* timeout;
    int error;
  } cases[] = {
      {"no sockets at all", empty, &no_wait, 10022},
      {"negative time-out", SetOf({s}), &negative, 10022},
      {"closed socket", SetOf({s, closed_value}), &no_wait, 10038},
      {"INVALID_SOCKET", SetOf({ws::kInvalidSocket}), &no_wait, 10038},
  };
  for (Case& c : cases) {
    ws::FdSet before = c.read;
    EXPECT_EQ(Select(&c.read, nullptr, nullptr, c.timeout), -1) << c.what;
    EXPECT_EQ(ws2.WSAGetLastError(), c.error) << c.what;
    EXPECT_EQ(c.read.fd_count, before.fd_count) << c.what << ": sets are left alone on failure";
  }
  EXPECT_EQ(Select(nullptr, nullptr, nullptr, &no_wait), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10022);
}

}  // namespace
