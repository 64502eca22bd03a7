// The connection's byte stream, as the monitor walks it: single-byte reads
// from the input buffer, the receive that refills it, the close and the
// failures that end it, lines sent, and the intercepts on the way.

#include "transport/tcp_connection.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transport/connection_intercept.h"
#include "transport/testing/client_fixture.h"
#include "transport/transport_errors.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::LoopbackPeer;
using testing_support::ReadSome;
using testing_support::SendAndClose;
using testing_support::StackFaultPlan;
using testing_support::StackOperation;
using testing_support::WriteAll;

using ConnectionTest = testing_support::ClientFixture;

TEST_F(ConnectionTest, CloseConnectionAlwaysNotifiesInOrder) {
  client_->CloseConnection();
  client_->CloseConnection();
  EXPECT_EQ(events_,
            (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected.",
                                      "Disconnecting.", "OnDisconnected", "Disconnected."}));
}

TEST_F(ConnectionTest, PeerSendsTenBytesAndCloses) {
  LoopbackPeer peer(SendAndClose("0123456789"));
  ConnectTo(peer.port());
  events_.clear();
  std::string got;
  for (int i = 0; i < 10; ++i) got += static_cast<char>(client_->ReadNextByte());
  EXPECT_EQ(got, "0123456789");
  EXPECT_TRUE(events_.empty());
  for (int i = 0; i < 2; ++i) {
    try {
      client_->ReadNextByte();
      FAIL();
    } catch (const EIdConnClosedGracefully& e) {
      EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
      EXPECT_STREQ(e.ClassName(), "EIdConnClosedGracefully");
    }
    EXPECT_FALSE(client_->IsConnected());
  }
  EXPECT_EQ(events_, (std::vector<std::string>{"Disconnected.", "OnDisconnected"}));
  EXPECT_THROW(client_->WriteLine("x"), EIdConnClosedGracefully);
}

TEST_F(ConnectionTest, PeerCloseIsSeenOnlyByTheNextRead) {
  LoopbackPeer peer(SendAndClose(""));
  ConnectTo(peer.port());
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(client_->IsConnected());
  EXPECT_THROW(client_->ReadNextByte(), EIdConnClosedGracefully);
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(ConnectionTest, ReadTimeoutRaisesAndLeavesTheConnectionOpen) {
  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  ConnectTo(peer.port());
  client_->ReadTimeout = 200;
  auto start = Clock::now();
  try {
    client_->ReadNextByte();
    FAIL();
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "Read Timeout");
  }
  auto took = Clock::now() - start;
  EXPECT_GE(took, 180ms);
  EXPECT_LT(took, 2000ms);
  EXPECT_TRUE(client_->IsConnected());
  client_->WriteLine("");
}

TEST_F(ConnectionTest, FailedWaitForDataIsTheSocketErrorNotATimeOut) {
  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  ConnectTo(peer.port());  // ReadTimeout 0: the wait has no time limit
  StackFaultPlan::Get().Fail(StackOperation::kSelect, 10038);
  try {
    client_->ReadNextByte();
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10038);
  }
}

TEST_F(ConnectionTest, ReceiveBufferSizeBelowOneIsRefusedWhereItIsSet) {
  for (std::int32_t size : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
    try {
      client_->SetRecvBufferSize(size);
      FAIL() << size;
    } catch (const EIdTCPConnectionError& e) {
      EXPECT_EQ(e.Message(), "Invalid receive buffer size " + std::to_string(size) +
                                 ": it must be at least 1 byte.");
    }
    EXPECT_EQ(client_->RecvBufferSize(), 32768);
  }
  // The smallest size still reads the whole stream, and then its end.
  client_->SetRecvBufferSize(1);
  LoopbackPeer peer(SendAndClose("abc"));
  ConnectTo(peer.port());
  std::string got;
  for (int i = 0; i < 3; ++i) got += static_cast<char>(client_->ReadNextByte());
  EXPECT_EQ(got, "abc");
  EXPECT_THROW(client_->ReadNextByte(), EIdConnClosedGracefully);
}

TEST_F(ConnectionTest, ReceiveFailuresCloseOnlyForAbortAndShutdown) {
  struct Case {
    int code;
    bool connected_after;
  } cases[] = {{10054, true}, {10053, false}, {10058, false}, {10060, true}};
  for (const Case& c : cases) {
    LoopbackPeer peer([](int fd) {
      WriteAll(fd, "x");  // readable, so that the receive is attempted
      ReadSome(fd, 1);
    });
    ConnectTo(peer.port());
    StackFaultPlan::Get().Fail(StackOperation::kReceive, c.code);
    try {
      client_->ReadNextByte();
      FAIL() << c.code;
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.ErrorCode(), c.code);
    }
    EXPECT_EQ(client_->IsConnected(), c.connected_after) << c.code;
    client_->CloseConnection();
  }
}

TEST_F(ConnectionTest, AbortWithBytesBufferedKeepsThemForTheNextRead) {
  LoopbackPeer peer([](int fd) {
    WriteAll(fd, "ab");
    ReadSome(fd, 2);
    WriteAll(fd, "c");
    ReadSome(fd, 1);
  });
  ConnectTo(peer.port());
  EXPECT_EQ(client_->ReadNextByte(), 'a');  // "b" stays buffered
  StackFaultPlan::Get().Fail(StackOperation::kReceive, 10053);
  client_->WriteLine("");  // makes the peer send "c": the receive is attempted
  char two[2];
  // The aborted receive raises no socket error while "b" is buffered; the
  // exact read then finds the stream closed.
  EXPECT_THROW(client_->ReadExact(two, 2), EIdConnClosedGracefully);
  EXPECT_FALSE(client_->IsConnected());
  EXPECT_EQ(client_->ReadNextByte(), 'b');
  EXPECT_THROW(client_->ReadNextByte(), EIdConnClosedGracefully);
}

TEST_F(ConnectionTest, WriteLineSendsTextAndCrLf) {
  std::promise<std::string> received;
  LoopbackPeer peer([&](int fd) { received.set_value(ReadSome(fd, 9)); });
  ConnectTo(peer.port());
  client_->WriteLine("");
  client_->WriteLine("GET /");
  auto future = received.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), "\r\nGET /\r\n");
}

TEST_F(ConnectionTest, SendFailuresDropTheSocket) {
  for (int code : {10054, 10053, 10058}) {
    LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
    ConnectTo(peer.port());
    StackFaultPlan::Get().Fail(StackOperation::kSend, code);
    try {
      client_->WriteLine("GET /");
      FAIL() << code;
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.ErrorCode(), code);
    }
    EXPECT_FALSE(client_->IsConnected()) << code;
    client_->CloseConnection();
  }
}

TEST_F(ConnectionTest, SendOfZeroBytesEndsTheConnection) {
  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  ConnectTo(peer.port());
  events_.clear();
  StackFaultPlan::Get().Fail(StackOperation::kSend, 0);
  EXPECT_THROW(client_->WriteLine("GET /"), EIdConnClosedGracefully);
  EXPECT_EQ(events_, (std::vector<std::string>{"Disconnected.", "OnDisconnected"}));
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(ConnectionTest, AsciiFilterClearsTheTopBit) {
  LoopbackPeer peer(SendAndClose("\xC1\x7F\x80"));
  ConnectTo(peer.port());
  client_->ASCIIFilter = true;
  EXPECT_EQ(client_->ReadNextByte(), 0x41);
  EXPECT_EQ(client_->ReadNextByte(), 0x7F);
  EXPECT_EQ(client_->ReadNextByte(), 0x00);
}

TEST_F(ConnectionTest, SingleByteReadsAndLinesProduceNoWorkEventsOutsideABracket) {
  LoopbackPeer peer([](int fd) {
    WriteAll(fd, "xyz");
    ReadSome(fd, 2);
  });
  ConnectTo(peer.port());
  std::vector<std::string> work;
  client_->OnWork = [&](TComponent*, TWorkMode mode, std::int32_t count) {
    work.push_back((mode == TWorkMode::wmRead ? "r" : "w") + std::to_string(count));
  };
  client_->ReadNextByte();
  client_->WriteLine("");
  EXPECT_TRUE(work.empty());
  client_->StartWork(TWorkMode::wmRead, 0);
  client_->ReadNextByte();
  client_->ReadNextByte();
  client_->FinishWork(TWorkMode::wmRead);
  EXPECT_EQ(work, (std::vector<std::string>{"r1", "r2"}));
}

TEST_F(ConnectionTest, BufferedRunOffersTheBytesSingleByteReadsWouldTakeUnheard) {
  // The peer sends its bytes and holds the connection until the client goes.
  LoopbackPeer peer([](int fd) {
    WriteAll(fd, "abcdef");
    while (!ReadSome(fd, 1).empty()) {
    }
  });
  ConnectTo(peer.port());
  EXPECT_TRUE(client_->BufferedRun().empty());  // nothing received yet
  ASSERT_EQ(client_->ReadNextByte(), 'a');
  while (client_->PendingInput.Size() < 5) client_->FillInput(true, 5000, true);
  EXPECT_EQ(client_->BufferedRun(), "bcdef");

  client_->ConsumeBufferedRun(3);
  EXPECT_EQ(client_->BufferedRun(), "ef");
  EXPECT_TRUE(client_->IsConnected());

  // Whoever hears each removal gets single-byte reads.
  client_->OnWork = [](TComponent*, TWorkMode, std::int32_t) {};
  EXPECT_TRUE(client_->BufferedRun().empty());
  client_->OnWork = nullptr;
  TIdBufferRemovalCallback own = client_->PendingInput.RemovalCallback;
  client_->PendingInput.RemovalCallback = [](TIdSimpleBuffer*, std::int32_t) {};
  EXPECT_TRUE(client_->BufferedRun().empty());
  client_->PendingInput.RemovalCallback = own;
  EXPECT_EQ(client_->BufferedRun(), "ef");

  EXPECT_EQ(client_->ReadNextByte(), 'e');
  // Closed, the next read must report the close after the last byte: the
  // byte path delivers it.
  client_->CloseConnection();
  EXPECT_TRUE(client_->BufferedRun().empty());
}

// --- the handler and the intercepts ---------------------------------------------

TEST_F(ConnectionTest, InterceptsSeeAndRewriteTrafficInChainOrder) {
  std::promise<std::string> sent;
  LoopbackPeer peer([&](int fd) {
    WriteAll(fd, "abc");
    sent.set_value(ReadSome(fd, 4));
  });
  std::vector<std::string> log;
  TIdConnectionIntercept outer(nullptr), inner(nullptr);
  outer.SetNextIntercept(&inner);
  outer.OnConnect = [&](TIdConnectionIntercept*) { log.push_back("outer connect"); };
  inner.OnConnect = [&](TIdConnectionIntercept*) { log.push_back("inner connect"); };
  outer.OnDisconnect = [&](TIdConnectionIntercept*) { log.push_back("outer disconnect"); };
  inner.OnDisconnect = [&](TIdConnectionIntercept*) { log.push_back("inner disconnect"); };
  // Received data passes the inner intercept first, outgoing the outer one.
  inner.OnReceive = [&](TIdConnectionIntercept*, TIdSimpleBuffer* b) {
    log.push_back("inner receive");
    for (std::int64_t i = 0; i < b->Size(); ++i)
      b->Memory()[i] = static_cast<std::uint8_t>(std::toupper(b->Memory()[i]));
  };
  outer.OnReceive = [&](TIdConnectionIntercept*, TIdSimpleBuffer* b) {
    log.push_back("outer receive");
    b->SetSize(b->Size() - 1);  // drops the last byte
  };
  outer.OnSend = [&](TIdConnectionIntercept*, TIdSimpleBuffer* b) {
    log.push_back("outer send");
    b->SetPosition(b->Size());
    b->Write("!", 1);
  };
  inner.OnSend = [&](TIdConnectionIntercept*, TIdSimpleBuffer*) { log.push_back("inner send"); };
  client_->SetIntercept(&outer);
  ConnectTo(peer.port());
  EXPECT_EQ(outer.AttachedConnection(), client_.get());
  EXPECT_EQ(client_->ReadNextByte(), 'A');
  EXPECT_EQ(client_->ReadNextByte(), 'B');
  client_->WriteText("x");
  client_->WriteLine("");
  auto future = sent.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), "x!\r\n");
  client_->CloseConnection();
  EXPECT_EQ(outer.AttachedConnection(), nullptr);
  EXPECT_EQ(log,
            (std::vector<std::string>{"outer connect", "inner connect", "inner receive",
                                      "outer receive", "outer send", "inner send", "outer send",
                                      "inner send", "inner disconnect", "outer disconnect"}));
}

TEST_F(ConnectionTest, AssigningTheHandlerItHasChangesNothing) {
  LoopbackPeer peer([](int fd) {
    WriteAll(fd, "ab");
    ReadSome(fd, 1);
  });
  ConnectTo(peer.port());
  TIdIOHandler* handler = client_->IOHandler();
  ASSERT_TRUE(client_->OwnsIOHandler());
  client_->SetIOHandler(handler);
  EXPECT_EQ(client_->IOHandler(), handler);
  EXPECT_TRUE(client_->OwnsIOHandler());
  EXPECT_EQ(client_->ReadNextByte(), 'a');
}

TEST_F(ConnectionTest, DestroyedInterceptIsForgotten) {
  auto intercept = std::make_unique<TIdConnectionIntercept>(nullptr);
  client_->SetIntercept(intercept.get());
  intercept.reset();
  EXPECT_EQ(client_->Intercept(), nullptr);
}

}  // namespace
