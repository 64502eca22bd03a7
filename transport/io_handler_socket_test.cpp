#include "transport/io_handler_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "transport/dead_path_detection.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/testing/loopback_peer.h"
#include "transport/transport_errors.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::LoopbackPeer;
using testing_support::ScopedFd;
using testing_support::StackFaultPlan;

class SocketLayerTest : public ::testing::Test {
 protected:
  ScopedStackClass stack_class_{&StackClassOf<testing_support::FaultInjectingStack>};

  void SetUp() override {
    StackFaultPlan::Get().Clear();
    handler_ = std::make_unique<TIdIOHandlerSocket>(nullptr);
    handler_->OnStatus = [this](TComponent*, TIdStatus, const std::string& text) {
      statuses_.push_back(text);
      if (StackFaultPlan::Get().OptionCalls().size() > 0) statuses_.push_back("(option set)");
    };
    handler_->OpenIO();
  }
  void TearDown() override { handler_.reset(); }

  void Connect(const std::string& host, int port, int timeout_ms, int min = 0, int max = 0) {
    handler_->ConnectToPeer(host, port, "127.0.0.1", 0, min, max, timeout_ms);
  }

  std::unique_ptr<TIdIOHandlerSocket> handler_;
  std::vector<std::string> statuses_;
};

TEST_F(SocketLayerTest, TimedConnectToARefusingPortFailsWithinTheFirstStep) {
  auto start = Clock::now();
  try {
    Connect("127.0.0.1", testing_support::RefusedPort(), 50000);
    FAIL() << "connected";
  } catch (const EIdConnectException& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    EXPECT_STREQ(e.ClassName(), "EIdConnectException");
  }
  EXPECT_LT(Clock::now() - start, 1000ms);
  EXPECT_TRUE(handler_->IsOpen());  // closed by the connection's CloseIO, not here
}

TEST_F(SocketLayerTest, DirectConnectToARefusingPortRaisesTheSocketError) {
  try {
    Connect("127.0.0.1", testing_support::RefusedPort(), 0);
    FAIL() << "connected";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
}

// A socket bound to the very address and port it connects to, where nothing
// listens, connects to itself by TCP's simultaneous open; what it stands for
// is a refused connect, and it is reported so, by either kind of connect.
TEST_F(SocketLayerTest, ConnectionToItselfIsReportedAsRefused) {
  for (int timeout_ms : {0, 50000}) {
    SCOPED_TRACE(timeout_ms);
    int port = 0;
    { ScopedFd probe = testing_support::ListenOnLoopback(1, &port); }  // free again
    handler_->OpenIO();
    try {
      handler_->ConnectToPeer("127.0.0.1", port, "127.0.0.1", port, 0, 0, timeout_ms);
      FAIL() << "connected to itself";
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
      EXPECT_STREQ(e.ClassName(), timeout_ms == 0 ? "EIdSocketError" : "EIdConnectException");
    }
    // It did connect: the refreshed addresses are its own on both sides.
    EXPECT_EQ(handler_->Socket()->RemotePort, port);
    EXPECT_EQ(handler_->Socket()->Port, port);
    handler_->CloseIO();
    EXPECT_FALSE(handler_->IsOpen());
  }
}

TEST_F(SocketLayerTest, UnresolvableNameFailsAfterResolvingStatusBeforeConnecting) {
  try {
    Connect("no-such-host.invalid", 80, 50000);
    FAIL() << "resolved";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_EQ(statuses_, std::vector<std::string>{"Resolving hostname no-such-host.invalid."});
  EXPECT_TRUE(handler_->IsOpen());  // allocated and bound until CloseIO
  handler_->CloseIO();
  EXPECT_FALSE(handler_->IsOpen());
}

TEST_F(SocketLayerTest, DottedQuadConnectsWithoutResolvingAndRefreshesAddresses) {
  LoopbackPeer peer([](int) {});
  Connect("127.0.0.1", peer.port(), 50000);
  EXPECT_EQ(statuses_, std::vector<std::string>{"Connecting to 127.0.0.1."});
  EXPECT_EQ(handler_->Socket()->RemoteIP, "127.0.0.1");
  EXPECT_EQ(handler_->Socket()->RemotePort, peer.port());
  EXPECT_EQ(handler_->Socket()->IP, "127.0.0.1");
  EXPECT_NE(handler_->Socket()->Port, 0);  // the port the platform chose
}

TEST_F(SocketLayerTest, NeverCompletingConnectTimesOutOnTimeAndClosesTheSocket) {
  testing_support::BlackholeListener blackhole;
  for (int timeout : {100, 400}) {
    handler_->OpenIO();
    auto start = Clock::now();
    EXPECT_THROW(Connect("127.0.0.1", blackhole.port(), timeout), EIdConnectTimeout);
    auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(timeout - 10)) << timeout;
    EXPECT_LT(took, std::chrono::milliseconds(timeout + 1500)) << timeout;
    EXPECT_FALSE(handler_->IsOpen());
  }
}

TEST_F(SocketLayerTest, NagleOptionIsSetAfterResolvingAndBeforeConnecting) {
  LoopbackPeer peer([](int) {});
  Connect("127.0.0.1", peer.port(), 0);
  EXPECT_TRUE(StackFaultPlan::Get().OptionCalls().empty());  // default: no option call

  handler_->CloseIO();
  handler_->OpenIO();
  handler_->UseNagle = false;
  statuses_.clear();
  Connect("localhost", peer.port(), 0);
  auto calls = StackFaultPlan::Get().OptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].level, ws::kIpProtoTcp);
  EXPECT_EQ(calls[0].option, ws::kTcpNoDelay);
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Resolving hostname localhost.",
                                                 "Connecting to 127.0.0.1.", "(option set)"}));
}

TEST(DeadPathTimingsTest, SpreadTheProbesOverTheSecondHalf) {
  struct Case {
    std::int32_t timeout_s;
    DeadPathTimings expected;
  } cases[] = {
      {120, {60, 10, 6, 120}},  // the default
      {10, {5, 1, 5, 10}},      // one-second probes: five fit
      {3, {1, 1, 2, 3}},
      {2, {1, 1, 1, 2}},
      {1, {1, 1, 1, 1}},  // no shorter idle time or interval exists
      {65535, {32767, 5461, 6, 65535}},
  };
  for (const Case& c : cases) {
    DeadPathTimings got = DeadPathTimingsFor(c.timeout_s);
    EXPECT_EQ(got.idle_s, c.expected.idle_s) << c.timeout_s;
    EXPECT_EQ(got.interval_s, c.expected.interval_s) << c.timeout_s;
    EXPECT_EQ(got.probe_count, c.expected.probe_count) << c.timeout_s;
    EXPECT_EQ(got.user_timeout_s, c.expected.user_timeout_s) << c.timeout_s;
    EXPECT_LE(got.idle_s + got.interval_s * got.probe_count, std::max(c.timeout_s, 2))
        << c.timeout_s;
  }
}

TEST_F(SocketLayerTest, DeadPathOptionsAreSetOnTheConnectedSocketOnly) {
  using Call = StackFaultPlan::OptionCall;
  const std::vector<Call> for_ten_seconds{
      {ws::kIpProtoTcp, ws::kTcpKeepIdle, 5}, {ws::kIpProtoTcp, ws::kTcpKeepIntvl, 1},
      {ws::kIpProtoTcp, ws::kTcpKeepCnt, 5},  {ws::kSolSocket, ws::kSoKeepAlive, 1},
      {ws::kIpProtoTcp, ws::kTcpMaxRt, 10},
  };
  LoopbackPeer peer([](int fd) { testing_support::ReadSome(fd, 1); });
  struct Case {
    const char* what;
    std::int32_t timeout_s;
    int port;
    std::vector<Call> expected;
  } cases[] = {
      {"off: not a single option", 0, peer.port(), {}},
      {"on", 10, peer.port(), for_ten_seconds},
      {"refused connect: nothing to set", 10, testing_support::RefusedPort(), {}},
  };
  for (const Case& c : cases) {
    StackFaultPlan::Get().Clear();
    handler_->CloseIO();
    handler_->OpenIO();
    handler_->DeadPathTimeoutS = c.timeout_s;
    try {
      Connect("127.0.0.1", c.port, 0);
    } catch (const EIdSocketError&) {
      EXPECT_EQ(c.port, testing_support::RefusedPort()) << c.what;
    }
    EXPECT_EQ(StackFaultPlan::Get().OptionCalls(), c.expected) << c.what;
  }
}

#if !defined(_WIN32)
// The system keeps what it took: read back through our sockets library. (What
// the Windows library accepts depends on the Windows version; see README.)
TEST_F(SocketLayerTest, DeadPathOptionsReachTheSocket) {
  LoopbackPeer peer([](int fd) { testing_support::ReadSome(fd, 1); });
  handler_->DeadPathTimeoutS = 120;
  Connect("127.0.0.1", peer.port(), 0);
  auto read = [&](int level, int option) {
    std::int32_t value = -1;
    int length = sizeof value;
    EXPECT_EQ(
        SocketStack->SockGetOption(handler_->Socket()->SocketId, level, option, &value, &length), 0)
        << option;
    return value;
  };
  EXPECT_EQ(read(ws::kSolSocket, ws::kSoKeepAlive), 1);
  EXPECT_EQ(read(ws::kIpProtoTcp, ws::kTcpKeepIdle), 60);
  EXPECT_EQ(read(ws::kIpProtoTcp, ws::kTcpKeepIntvl), 10);
  EXPECT_EQ(read(ws::kIpProtoTcp, ws::kTcpKeepCnt), 6);
  EXPECT_EQ(read(ws::kIpProtoTcp, ws::kTcpMaxRt), 120);
}
#endif

// A system that refuses every one of them (an old kernel, an old Windows)
// still connects, without the detection; each option was still tried.
TEST_F(SocketLayerTest, RefusedDeadPathOptionsDoNotStopTheConnect) {
  LoopbackPeer peer([](int fd) { testing_support::ReadSome(fd, 1); });
  StackFaultPlan::Get().Fail(testing_support::StackOperation::kSetOption, 10042, 5);
  handler_->DeadPathTimeoutS = 10;
  Connect("127.0.0.1", peer.port(), 50000);
  EXPECT_TRUE(handler_->IsOpen());
  EXPECT_EQ(StackFaultPlan::Get().OptionCalls().size(), 5u);
  // Zero to start with: some Windows sockets layers write only the first
  // byte of this BOOL option, so the rest must not hold a stray value.
  std::int32_t on = 0;
  int length = sizeof on;
  ASSERT_EQ(SocketStack->SockGetOption(handler_->Socket()->SocketId, ws::kSolSocket,
                                       ws::kSoKeepAlive, &on, &length),
            0);
  EXPECT_EQ(on, 0);
}

TEST_F(SocketLayerTest, WaitReadableReportsDataAndCloseAndFailsAfterCloseIO) {
  LoopbackPeer peer([](int fd) {
    testing_support::WriteAll(fd, "x");
    testing_support::ReadSome(fd, 1);  // wait for the go-ahead, then close
  });
  Connect("127.0.0.1", peer.port(), 0);
  char byte = 0;
  EXPECT_TRUE(handler_->WaitReadable(2000));
  EXPECT_EQ(handler_->ReceiveBytes(&byte, 1), 1);
  EXPECT_FALSE(handler_->WaitReadable(0));  // idle: false at once
  EXPECT_EQ(handler_->SendBytes("k", 1), 1);
  EXPECT_TRUE(handler_->WaitReadable(2000));
  EXPECT_EQ(handler_->ReceiveBytes(&byte, 1), 0);  // the peer closed

  handler_->CloseIO();
  handler_->CloseIO();  // the second does nothing
  EXPECT_THROW(handler_->WaitReadable(0), EIdConnClosedGracefully);
  EXPECT_THROW(handler_->ReceiveBytes(&byte, 1), EIdClosedSocket);
  try {
    handler_->SendBytes("x", 1);
    FAIL();
  } catch (const EIdClosedSocket& e) {
    EXPECT_EQ(e.Message(), "Disconnected.");
  }
}

// A port range whose ports the test holds, three in a row.
struct PortRange {
  int low = 0;
  std::vector<ScopedFd> holders;
};

ScopedFd Occupy(int port) { return testing_support::BindLoopback(port); }

// Finds three consecutive free ports and holds all of them.
PortRange HoldThreePorts() {
  for (int attempt = 0; attempt < 50; ++attempt) {
    PortRange range;
    // A port free a moment ago; held at once below, and tried again when
    // someone took it in between.
    { ScopedFd probe = testing_support::ListenOnLoopback(1, &range.low); }
    if (range.low > 65000) continue;
    for (int i = 0; i < 3; ++i) {
      ScopedFd fd = Occupy(range.low + i);
      if (fd.Get() < 0) break;
      range.holders.push_back(std::move(fd));
    }
    if (range.holders.size() == 3) return range;
  }
  return PortRange();
}

TEST_F(SocketLayerTest, BindInRangeTakesTheHighestFreePortDownwards) {
  LoopbackPeer peer([](int) {});
  PortRange range = HoldThreePorts();
  ASSERT_EQ(range.holders.size(), 3u);
  int low = range.low, high = range.low + 2;

  range.holders[2] = ScopedFd();  // high is free
  Connect("127.0.0.1", peer.port(), 0, low, high);
  EXPECT_EQ(handler_->Socket()->Port, high);
  handler_->CloseIO();

  range.holders[2] = Occupy(high);
  range.holders[1] = ScopedFd();  // only the middle one is free
  handler_->OpenIO();
  Connect("127.0.0.1", peer.port(), 0, low, high);
  EXPECT_EQ(handler_->Socket()->Port, low + 1);
  handler_->CloseIO();

  range.holders[1] = Occupy(low + 1);
  handler_->OpenIO();
  try {
    Connect("127.0.0.1", peer.port(), 0, low, high);
    FAIL() << "bound";
  } catch (const EIdCanNotBindPortInRange& e) {
    EXPECT_EQ(e.Message(), "Can not bind in port range (" + std::to_string(low) + " - " +
                               std::to_string(high) + ")");
  }
}

TEST_F(SocketLayerTest, BindRejectsAnInvertedRangeAndAFixedPortIgnoresTheRange) {
  try {
    Connect("127.0.0.1", 1, 0, 5002, 5000);
    FAIL();
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (5002 - 5000)");
  }
  PortRange range = HoldThreePorts();
  ASSERT_EQ(range.holders.size(), 3u);
  handler_->OpenIO();
  try {
    // Port fixed: only that port is tried, although the range has free ports.
    handler_->ConnectToPeer("127.0.0.1", 1, "127.0.0.1", range.low, range.low + 10, range.low + 20,
                            0);
    FAIL();
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
}

}  // namespace
