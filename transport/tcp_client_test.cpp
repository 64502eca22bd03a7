// The client: host, port and the connect with its time-out, over a real
// loopback peer. The connection's own operations are tested in
// tcp_connection_test.cpp and tcp_connection_commands_test.cpp.

#include "transport/tcp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "transport/io_handler_socket.h"
#include "transport/testing/client_fixture.h"
#include "transport/transport_errors.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::LoopbackPeer;
using testing_support::ReadSome;
using testing_support::SendAndClose;
using testing_support::StackFaultPlan;
using testing_support::WriteAll;

using ClientTest = testing_support::ClientFixture;

TEST_F(ClientTest, FreshClientIsNotConnectedAndRefusesReadsAndWrites) {
  EXPECT_FALSE(client_->IsConnected());
  EXPECT_TRUE(events_.empty());
  try {
    client_->ReadNextByte();
    FAIL();
  } catch (const EIdNotConnected& e) {
    EXPECT_EQ(e.Message(), "Not Connected");
    EXPECT_STREQ(e.ClassName(), "EIdNotConnected");
  }
  EXPECT_THROW(client_->WriteLine("x"), EIdNotConnected);
}

TEST_F(ClientTest, ConnectReportsStatusesFromHandlerThenClient) {
  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  client_->SetHost("localhost");
  client_->SetPort(peer.port());
  client_->OpenConnection(50000);
  EXPECT_TRUE(client_->IsConnected());
  EXPECT_EQ(events_,
            (std::vector<std::string>{"Resolving hostname localhost.", "Connecting to 127.0.0.1.",
                                      "Connected.", "OnConnected"}));
  EXPECT_EQ(client_->Host(), "localhost");
  try {
    client_->OpenConnection(50000);
    FAIL();
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_EQ(e.Message(), "Already connected.");
  }
  EXPECT_TRUE(client_->IsConnected());
}

TEST_F(ClientTest, AlreadyConnectedKeepsBufferedInput) {
  LoopbackPeer peer([](int fd) {
    WriteAll(fd, "abc");
    ReadSome(fd, 1);
  });
  ConnectTo(peer.port());
  EXPECT_EQ(client_->ReadNextByte(), 'a');
  EXPECT_THROW(client_->OpenConnection(50000), EIdAlreadyConnected);
  EXPECT_EQ(client_->ReadNextByte(), 'b');
  EXPECT_EQ(client_->ReadNextByte(), 'c');
}

TEST_F(ClientTest, ConnectTimeOutRaisesAndTheNextAttemptReusesTheHandler) {
  testing_support::BlackholeListener blackhole;
  client_->SetHost("127.0.0.1");
  client_->SetPort(blackhole.port());
  auto start = Clock::now();
  try {
    client_->OpenConnection(300);
    FAIL();
  } catch (const EIdConnectTimeout& e) {
    EXPECT_EQ(e.Message(), "Connect timed out.");
  }
  EXPECT_LT(Clock::now() - start, 2000ms);
  EXPECT_FALSE(client_->IsConnected());
  TIdIOHandler* handler = client_->IOHandler();
  ASSERT_NE(handler, nullptr);
  EXPECT_TRUE(client_->OwnsIOHandler());
  EXPECT_THROW(client_->ReadNextByte(), EIdConnClosedGracefully);  // not "Not Connected"

  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  client_->SetPort(peer.port());
  client_->OpenConnection(50000);
  EXPECT_EQ(client_->IOHandler(), handler);
  EXPECT_TRUE(client_->IsConnected());
  client_->CloseConnection();
  EXPECT_EQ(client_->IOHandler(), nullptr);
}

TEST_F(ClientTest, RefusedConnectSendsNoDisconnectNotification) {
  client_->SetHost("127.0.0.1");
  client_->SetPort(testing_support::RefusedPort());
  events_.clear();
  EXPECT_THROW(client_->OpenConnection(50000), EIdConnectException);
  EXPECT_EQ(events_, std::vector<std::string>{"Connecting to 127.0.0.1."});
  EXPECT_FALSE(client_->IsConnected());
  EXPECT_TRUE(client_->CloseSeen());
}

// The client's setting reaches the handler it makes, at every connect; a
// client left at the default sets no option at all.
TEST_F(ClientTest, DeadPathTimeOutGoesToTheHandlerAtEachConnect) {
  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  ConnectTo(peer.port());
  EXPECT_TRUE(StackFaultPlan::Get().OptionCalls().empty());
  client_->CloseConnection();
  client_->DeadPathTimeoutS = 120;
  ConnectTo(peer.port());
  auto* handler = static_cast<TIdIOHandlerSocket*>(client_->IOHandler());
  EXPECT_EQ(handler->DeadPathTimeoutS, 120);
  auto calls = StackFaultPlan::Get().OptionCalls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_EQ(calls.back().option, ws::kTcpMaxRt);
  EXPECT_EQ(calls.back().value, 120);
}

TEST_F(ClientTest, ConnectAndReadAllClosesAfterReading) {
  LoopbackPeer peer(SendAndClose("everything"));
  client_->SetHost("127.0.0.1");
  client_->SetPort(peer.port());
  EXPECT_EQ(client_->ConnectAndReadAll(), "everything");
  EXPECT_EQ(client_->IOHandler(), nullptr);
  EXPECT_EQ(events_.back(), "Disconnected.");
}

}  // namespace
