// A blocking connect that never completes must return when another thread
// shuts the socket down or closes it, as the transport's timed connect
// expects; other connects keep their ordinary behaviour.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <future>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/sockets_posix/testing/ws2_32_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Outcome {
  int result;
  int error;
  Clock::time_point ended;
};

// connect() on its own thread. A connect that does not return within the
// test's patience is abandoned rather than waited for, so that a fault costs
// seconds, not the system's two-minute connect time-out.
class ConnectInThread final {
 public:
  ConnectInThread(ws::Socket s, std::uint16_t port) {
    auto promise = std::make_shared<std::promise<Outcome>>();
    outcome_ = promise->get_future();
    thread_ = std::thread([s, port, promise] {
      ws::SockAddrIn address = Loopback(port);
      int result = Api().connect(s, AsSockAddr(address), sizeof address);
      int error = Api().WSAGetLastError();
      promise->set_value({result, error, Clock::now()});
    });
  }
  ~ConnectInThread() {
    if (thread_.joinable()) thread_.detach();
  }

  bool StillPendingAfter(milliseconds wait) {
    return outcome_.wait_for(wait) == std::future_status::timeout;
  }
  std::optional<Outcome> Finish() {
    if (outcome_.wait_for(std::chrono::seconds(5)) != std::future_status::ready) return {};
    thread_.join();
    return outcome_.get();
  }
  pthread_t native() { return thread_.native_handle(); }

 private:
  std::future<Outcome> outcome_;
  std::thread thread_;
};

// A listener whose accept queue is full: the system drops further SYNs, so a
// connect to it neither completes nor fails for about two minutes.
class BlockingConnectTest : public Ws2Test {
 protected:
  void SetUp() override {
    Ws2Test::SetUp();
    listener_ = PosixListener(0, &port_);
    for (int i = 0; i < 3; ++i) {
      UniqueFd filler(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      sockaddr_in address{};
      address.sin_family = AF_INET;
      address.sin_port = htons(port_);
      address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      connect(filler.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
      fillers_.push_back(std::move(filler));
    }
    std::this_thread::sleep_for(milliseconds(50));
  }

  WsSocket NewSocket() {
    WsSocket s(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
    EXPECT_NE(s.get(), ws::kInvalidSocket);
    return s;
  }

  UniqueFd listener_;
  std::uint16_t port_ = 0;
  std::vector<UniqueFd> fillers_;
};

TEST_F(BlockingConnectTest, ShutdownOrCloseFromAnotherThreadEndsIt) {
  struct Case {
    const char* what;
    bool shut_down;
    bool close;
    int expected_error;  // 0: either "interrupted" or "not a socket"
  } cases[] = {
      {"shutdown", true, false, 10004},
      {"closesocket", false, true, 10038},
      {"shutdown then closesocket, as the transport does", true, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int descriptors_before = OpenDescriptorCount();
    WsSocket s = NewSocket();
    ConnectInThread connecting(s.get(), port_);
    ASSERT_TRUE(connecting.StillPendingAfter(milliseconds(300)))
        << "the full listener did not hold the connect back; the test cannot work here";

    Clock::time_point interrupted = Clock::now();
    if (c.shut_down) {
      EXPECT_EQ(ws2.shutdown(s.get(), ws::kSdSend), 0) << ws2.WSAGetLastError();
    }
    ws::Socket value = s.get();
    if (c.close) {
      EXPECT_EQ(ws2.closesocket(s.Release()), 0);
    }
    std::optional<Outcome> outcome = connecting.Finish();
    ASSERT_TRUE(outcome.has_value()) << "connect did not return within 5 s";

    auto took = std::chrono::duration_cast<milliseconds>(outcome->ended - interrupted);
    EXPECT_LT(took.count(), 1000) << "connect took " << took.count() << " ms to return";
    EXPECT_EQ(outcome->result, -1);
    if (c.expected_error != 0) {
      EXPECT_EQ(outcome->error, c.expected_error);
    } else {
      EXPECT_TRUE(outcome->error == 10004 || outcome->error == 10038) << outcome->error;
    }
    if (c.close) {
      // The last user closed the descriptor when the connect left.
      EXPECT_FALSE(IsOpen(static_cast<int>(value)));
    } else {
      EXPECT_EQ(ws2.closesocket(s.Release()), 0);
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors_before) << "a descriptor leaked";
  }
}

// Many waiting connects closed at once while other sockets are being opened
// and closed: every connect returns, each with its own socket's answer, and
// no descriptor is left behind or closed twice.
TEST_F(BlockingConnectTest, ManyConnectsClosedWhileNumbersAreReused) {
  constexpr int kConnects = 16;
  int descriptors_before = OpenDescriptorCount();
  std::vector<WsSocket> sockets;
  std::vector<std::unique_ptr<ConnectInThread>> connects;
  for (int i = 0; i < kConnects; ++i) {
    sockets.push_back(NewSocket());
    connects.push_back(std::make_unique<ConnectInThread>(sockets.back().get(), port_));
  }
  ASSERT_TRUE(connects.back()->StillPendingAfter(milliseconds(200)));
  std::atomic<bool> stop{false};
  std::thread churn([&] {
    while (!stop) WsSocket(ws2.socket(ws::kAfInet, ws::kSockStream, 0));
  });
  for (WsSocket& s : sockets) EXPECT_EQ(ws2.closesocket(s.Release()), 0);
  for (auto& connect : connects) {
    std::optional<Outcome> outcome = connect->Finish();
    ASSERT_TRUE(outcome.has_value()) << "a connect did not return within 5 s";
    EXPECT_EQ(outcome->result, -1);
    EXPECT_EQ(outcome->error, 10038);
  }
  stop = true;
  churn.join();
  EXPECT_EQ(OpenDescriptorCount(), descriptors_before);
}

void IgnoreSignal(int) {}

TEST_F(BlockingConnectTest, SignalsDoNotEndIt) {
  struct sigaction handler {};
  handler.sa_handler = IgnoreSignal;  // no SA_RESTART: waits see EINTR
  struct sigaction previous;
  ASSERT_EQ(sigaction(SIGUSR1, &handler, &previous), 0);
  WsSocket s = NewSocket();
  ConnectInThread connecting(s.get(), port_);
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(milliseconds(20));
    pthread_kill(connecting.native(), SIGUSR1);
  }
  EXPECT_TRUE(connecting.StillPendingAfter(milliseconds(200)));
  EXPECT_EQ(ws2.closesocket(s.Release()), 0);
  std::optional<Outcome> outcome = connecting.Finish();
  sigaction(SIGUSR1, &previous, nullptr);
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(outcome->error, 10038);
}

TEST_F(BlockingConnectTest, CompletedConnectLeavesTheSocketBlocking) {
  std::uint16_t port;
  UniqueFd open_listener = PosixListener(5, &port);
  WsSocket s = WsConnected(port);
  int flags = fcntl(static_cast<int>(s.get()), F_GETFL);
  ASSERT_GE(flags, 0);
  EXPECT_EQ(flags & O_NONBLOCK, 0);
  UniqueFd peer = PosixAccept(open_listener.Get());
  ASSERT_GE(peer.Get(), 0);
  // A blocking receive really waits for the data.
  std::thread later([&] {
    std::this_thread::sleep_for(milliseconds(100));
    send(peer.Get(), "z", 1, MSG_NOSIGNAL);
  });
  char byte = 0;
  EXPECT_EQ(ws2.recv(s.get(), &byte, 1, 0), 1) << ws2.WSAGetLastError();
  EXPECT_EQ(byte, 'z');
  later.join();
}

TEST_F(BlockingConnectTest, NonBlockingSocketKeepsWouldBlockSemantics) {
  WsSocket s = NewSocket();
  std::uint32_t on = 1;
  ASSERT_EQ(ws2.ioctlsocket(s.get(), ws::kFionbio, &on), 0);
  ws::SockAddrIn address = Loopback(port_);
  EXPECT_EQ(ws2.connect(s.get(), AsSockAddr(address), sizeof address), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10035);
  EXPECT_EQ(ws2.connect(s.get(), AsSockAddr(address), sizeof address), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10037);
  ws::FdSet writable{1, {s.get()}};
  ws::TimeVal no_wait{0, 0};
  EXPECT_EQ(ws2.select(0, nullptr, &writable, nullptr, &no_wait), 0);

  // Against a listener that answers, the same connect completes in the
  // background and the socket becomes writable.
  std::uint16_t port;
  UniqueFd open_listener = PosixListener(5, &port);
  WsSocket t = NewSocket();
  ASSERT_EQ(ws2.ioctlsocket(t.get(), ws::kFionbio, &on), 0);
  address = Loopback(port);
  int result = ws2.connect(t.get(), AsSockAddr(address), sizeof address);
  if (result != 0) {
    EXPECT_EQ(ws2.WSAGetLastError(), 10035);
  }
  writable = {1, {t.get()}};
  ws::TimeVal patience{5, 0};
  EXPECT_EQ(ws2.select(0, nullptr, &writable, nullptr, &patience), 1);
  int pending = -1;
  int length = sizeof pending;
  ASSERT_EQ(ws2.getsockopt(t.get(), ws::kSolSocket, ws::kSoError, reinterpret_cast<char*>(&pending),
                           &length),
            0);
  EXPECT_EQ(pending, 0);
}

}  // namespace
