#include "transport/io_handler_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

#include "transport/scoped_stack_class.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/testing/loopback_peer.h"
#include "transport/transport_errors.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::FaultPlan;
using testing_support::LoopbackPeer;
using testing_support::ScopedFd;

class SocketLayerTest : public ::testing::Test {
 protected:
  ScopedStackClass stack_class_{&StackClassOf<testing_support::FaultInjectingStack>};

  void SetUp() override {
    FaultPlan::Get().Clear();
    handler_ = std::make_unique<TIdIOHandlerSocket>(nullptr);
    handler_->OnStatus = [this](TComponent*, TIdStatus, const std::string& text) {
      statuses_.push_back(text);
      if (FaultPlan::Get().OptionCalls().size() > 0) statuses_.push_back("(option set)");
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
  EXPECT_TRUE(FaultPlan::Get().OptionCalls().empty());  // default: no option call

  handler_->CloseIO();
  handler_->OpenIO();
  handler_->UseNagle = false;
  statuses_.clear();
  Connect("localhost", peer.port(), 0);
  auto calls = FaultPlan::Get().OptionCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].level, ws::kIpProtoTcp);
  EXPECT_EQ(calls[0].option, ws::kTcpNoDelay);
  EXPECT_EQ(statuses_, (std::vector<std::string>{"Resolving hostname localhost.",
                                                 "Connecting to 127.0.0.1.", "(option set)"}));
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
    range.low = testing_support::RefusedPort();
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
