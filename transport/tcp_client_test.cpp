#include "transport/tcp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "transport/connection_intercept.h"
#include "transport/io_handler_socket.h"
#include "transport/process_stack.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/testing/loopback_peer.h"
#include "transport/transport_errors.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::LoopbackPeer;
using testing_support::ReadSome;
using testing_support::StackFaultPlan;
using testing_support::StackOperation;
using testing_support::WriteAll;

// A client with every notification it sends written to `events`.
class ClientTest : public ::testing::Test {
 protected:
  ScopedStackClass stack_class_{&StackClassOf<testing_support::FaultInjectingStack>};

  void SetUp() override {
    StackFaultPlan::Get().Clear();
    client_ = std::make_unique<TIdTCPClient>();
    client_->OnStatus = [this](TComponent*, TIdStatus, const std::string& text) {
      events_.push_back(text);
    };
    client_->OnDisconnected = [this](TComponent*) { events_.push_back("OnDisconnected"); };
    client_->OnConnected = [this](TComponent*) { events_.push_back("OnConnected"); };
  }
  void TearDown() override {
    client_.reset();
    StackFaultPlan::Get().Clear();
  }

  void ConnectTo(int port, int timeout_ms = 50000) {
    client_->SetHost("127.0.0.1");
    client_->SetPort(port);
    client_->OpenConnection(timeout_ms);
  }

  std::unique_ptr<TIdTCPClient> client_;
  std::vector<std::string> events_;
};

// A peer that sends `bytes`, then closes.
LoopbackPeer::Serve SendAndClose(std::string bytes) {
  return [bytes](int fd) { WriteAll(fd, bytes); };
}

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

TEST_F(ClientTest, CloseConnectionAlwaysNotifiesInOrder) {
  client_->CloseConnection();
  client_->CloseConnection();
  EXPECT_EQ(events_,
            (std::vector<std::string>{"Disconnecting.", "OnDisconnected", "Disconnected.",
                                      "Disconnecting.", "OnDisconnected", "Disconnected."}));
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

TEST_F(ClientTest, PeerSendsTenBytesAndCloses) {
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

TEST_F(ClientTest, PeerCloseIsSeenOnlyByTheNextRead) {
  LoopbackPeer peer(SendAndClose(""));
  ConnectTo(peer.port());
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(client_->IsConnected());
  EXPECT_THROW(client_->ReadNextByte(), EIdConnClosedGracefully);
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(ClientTest, ReadTimeoutRaisesAndLeavesTheConnectionOpen) {
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

TEST_F(ClientTest, FailedWaitForDataIsTheSocketErrorNotATimeOut) {
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

TEST_F(ClientTest, ReceiveBufferSizeBelowOneIsRefusedWhereItIsSet) {
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

TEST_F(ClientTest, ReceiveFailuresCloseOnlyForAbortAndShutdown) {
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

TEST_F(ClientTest, AbortWithBytesBufferedKeepsThemForTheNextRead) {
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

TEST_F(ClientTest, WriteLineSendsTextAndCrLf) {
  std::promise<std::string> received;
  LoopbackPeer peer([&](int fd) { received.set_value(ReadSome(fd, 9)); });
  ConnectTo(peer.port());
  client_->WriteLine("");
  client_->WriteLine("GET /");
  auto future = received.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), "\r\nGET /\r\n");
}

TEST_F(ClientTest, SendFailuresDropTheSocket) {
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

TEST_F(ClientTest, SendOfZeroBytesEndsTheConnection) {
  LoopbackPeer peer([](int fd) { ReadSome(fd, 1); });
  ConnectTo(peer.port());
  events_.clear();
  StackFaultPlan::Get().Fail(StackOperation::kSend, 0);
  EXPECT_THROW(client_->WriteLine("GET /"), EIdConnClosedGracefully);
  EXPECT_EQ(events_, (std::vector<std::string>{"Disconnected.", "OnDisconnected"}));
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(ClientTest, AsciiFilterClearsTheTopBit) {
  LoopbackPeer peer(SendAndClose("\xC1\x7F\x80"));
  ConnectTo(peer.port());
  client_->ASCIIFilter = true;
  EXPECT_EQ(client_->ReadNextByte(), 0x41);
  EXPECT_EQ(client_->ReadNextByte(), 0x7F);
  EXPECT_EQ(client_->ReadNextByte(), 0x00);
}

TEST_F(ClientTest, SingleByteReadsAndLinesProduceNoWorkEventsOutsideABracket) {
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

// --- intercepts -----------------------------------------------------------------

TEST_F(ClientTest, InterceptsSeeAndRewriteTrafficInChainOrder) {
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

TEST_F(ClientTest, AssigningTheHandlerItHasChangesNothing) {
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

TEST_F(ClientTest, DestroyedInterceptIsForgotten) {
  auto intercept = std::make_unique<TIdConnectionIntercept>(nullptr);
  client_->SetIntercept(intercept.get());
  intercept.reset();
  EXPECT_EQ(client_->Intercept(), nullptr);
}

// --- lines, streams, files --------------------------------------------------------

TEST_F(ClientTest, ReadTextLineSplitsOnTerminatorAndHonoursMaxLength) {
  LoopbackPeer peer(SendAndClose("first\r\nsecond\nthird|0123456789ABCDEF\n"));
  ConnectTo(peer.port());
  EXPECT_EQ(client_->ReadTextLine(), "first");
  EXPECT_EQ(client_->ReadTextLine("\n"), "second");
  EXPECT_EQ(client_->ReadTextLine("|"), "third");
  EXPECT_THROW(client_->ReadTextLine("", -1, 10), EIdReadLnMaxLineLengthExceeded);
  client_->MaxLineAction = TIdMaxLineAction::maSplit;
  EXPECT_EQ(client_->ReadTextLine("", -1, 10), "0123456789");
  EXPECT_EQ(client_->ReadTextLine("", -1, 10), "ABCDEF");
  EXPECT_THROW(client_->ReadTextLine(), EIdConnClosedGracefully);
}

// The maximum length counts the line without its terminator, also while the
// terminator is still arriving. Each chunk is sent once the client received
// the one before, so a terminator can be caught half in the buffer.
TEST_F(ClientTest, MaxLineLengthCountsTheLineWithoutItsTerminator) {
  constexpr const char* kTooLong = "!";  // EIdReadLnMaxLineLengthExceeded
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::string terminator;
    TIdMaxLineAction action;
    std::vector<std::string> lines;  // read with maximum length 10, then the peer's close
  } cases[] = {
      {"crlf after ten", {"0123456789\r\n"}, "", TIdMaxLineAction::maException, {"0123456789"}},
      {"crlf after ten, split", {"0123456789\r\n"}, "", TIdMaxLineAction::maSplit, {"0123456789"}},
      {"cr first, lf later",
       {"0123456789\r", "\n"},
       "",
       TIdMaxLineAction::maException,
       {"0123456789"}},
      {"own terminator in parts",
       {"0123456789EN", "D"},
       "END",
       TIdMaxLineAction::maException,
       {"0123456789"}},
      {"eleven", {"0123456789A\r\n"}, "", TIdMaxLineAction::maException, {kTooLong}},
      {"eleven, split", {"0123456789A\r\n"}, "", TIdMaxLineAction::maSplit, {"0123456789", "A"}},
      {"cr that was the line's own",
       {"0123456789\r", "x\n"},
       "",
       TIdMaxLineAction::maException,
       {kTooLong}},
      {"half terminator that was the line's own",
       {"0123456789E", "x", "END"},
       "END",
       TIdMaxLineAction::maSplit,
       {"0123456789", "Ex"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int> receives{0};
    TIdConnectionIntercept counter(nullptr);
    counter.OnReceive = [&](TIdConnectionIntercept*, TIdSimpleBuffer*) { ++receives; };
    client_->SetIntercept(&counter);
    LoopbackPeer peer([&](int fd) {
      for (std::size_t i = 0; i < c.chunks.size(); ++i) {
        auto deadline = Clock::now() + 5s;
        while (receives.load() < static_cast<int>(i) && Clock::now() < deadline) {
          std::this_thread::sleep_for(1ms);
        }
        WriteAll(fd, c.chunks[i]);
      }
    });
    ConnectTo(peer.port());
    client_->MaxLineAction = c.action;
    bool raised = false;
    for (const std::string& expected : c.lines) {
      if (expected == kTooLong) {
        EXPECT_THROW(client_->ReadTextLine(c.terminator, -1, 10), EIdReadLnMaxLineLengthExceeded);
        raised = true;
        break;
      }
      EXPECT_EQ(client_->ReadTextLine(c.terminator, -1, 10), expected);
    }
    // Nothing is left over: no empty line made of a terminator's rest.
    if (!raised) {
      EXPECT_THROW(client_->ReadTextLine(c.terminator, -1, 10), EIdConnClosedGracefully);
    }
    client_->CloseConnection();
    client_->SetIntercept(nullptr);
  }
}

TEST_F(ClientTest, ReadAllCollectsUntilThePeerCloses) {
  std::string big(100000, 'q');
  LoopbackPeer peer(SendAndClose(big));
  ConnectTo(peer.port());
  EXPECT_EQ(client_->ReadAll(), big);
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(ClientTest, StreamDataGoesOutWithLengthPrefixInChunks) {
  std::promise<std::string> received;
  LoopbackPeer peer([&](int fd) { received.set_value(ReadSome(fd, 4 + 10)); });
  ConnectTo(peer.port());
  client_->SendBufferSize = 3;
  TMemoryStream stream;
  stream.Write("0123456789", 10);
  std::vector<std::int32_t> work;
  client_->OnWork = [&](TComponent*, TWorkMode, std::int32_t count) { work.push_back(count); };
  client_->WriteStreamData(stream, true, 0, true);
  auto future = received.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), std::string("\0\0\0\x0A", 4) + "0123456789");
  EXPECT_EQ(work, (std::vector<std::int32_t>{3, 6, 9, 10}));
}

TEST_F(ClientTest, SendFileSendsTheFileOrSaysWhyItCannot) {
  try {
    client_->SendFile("/nonexistent/file.bin");
    FAIL();
  } catch (const EIdFileNotFound& e) {
    EXPECT_EQ(e.Message(), "File \"/nonexistent/file.bin\" not found");
  }
  // A folder is there: it is not reported as a missing file.
  const std::string folder = std::filesystem::temp_directory_path().string();
  try {
    client_->SendFile(folder);
    FAIL();
  } catch (const EIdFileNotFound& e) {
    ADD_FAILURE() << e.Message();
  } catch (const EIdTCPConnectionError& e) {
    EXPECT_EQ(e.Message().rfind("File \"" + folder + "\" cannot be opened: ", 0), 0u)
        << e.Message();
  }
  // A name no parallel run shares: the clock's count is part of it.
  const std::string path =
      (std::filesystem::temp_directory_path() /
       ("send_file_test_" + std::to_string(Clock::now().time_since_epoch().count())))
          .string();
  std::string content(70000, 'z');
  content[0] = 'A';
  FILE* file = fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr) << path;
  fwrite(content.data(), 1, content.size(), file);
  fclose(file);

  std::promise<std::string> received;
  LoopbackPeer peer([&](int peer_fd) { received.set_value(ReadSome(peer_fd, content.size())); });
  ConnectTo(peer.port());
  EXPECT_EQ(client_->SendFile(path), static_cast<std::int64_t>(content.size()));
  auto future = received.get_future();
  ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(future.get(), content);
  std::filesystem::remove(path);
}

TEST_F(ClientTest, CommandsCheckTheirReplyCodes) {
  LoopbackPeer peer([](int fd) {
    ReadSome(fd, 6);  // "HELO\r\n"
    WriteAll(fd, "250-first\r\n250 last\r\n");
    ReadSome(fd, 6);
    WriteAll(fd, "550 no such thing\r\n");
    ReadSome(fd, 1);
  });
  ConnectTo(peer.port());
  EXPECT_EQ(client_->SendCommand("HELO", {250}), 250);
  EXPECT_EQ(client_->LastReply.Text, (std::vector<std::string>{"first", "last"}));
  try {
    client_->SendCommand("QUIT", {221});
    FAIL();
  } catch (const EIdProtocolReplyError& e) {
    EXPECT_EQ(e.ReplyErrorCode(), 550);
    EXPECT_EQ(e.Message(), "no such thing");
  }
}

TEST_F(ClientTest, ConvenienceReadsOverTheBufferedStream) {
  LoopbackPeer peer([](int fd) {
    WriteAll(fd, "  \r\n\r\nword\n");
    ReadSome(fd, 1);
    WriteAll(fd, "101-a\r\n101 b\r\n");
    ReadSome(fd, 1);
    WriteAll(fd, "rest");
    ReadSome(fd, 1);
  });
  ConnectTo(peer.port());
  EXPECT_EQ(client_->ReadNonEmptyLine(5), "word");
  client_->WriteText("x");
  EXPECT_EQ(client_->ReadReplyLines(), (std::vector<std::string>{"a", "b"}));
  client_->WriteText("x");
  EXPECT_EQ(client_->TakeAvailable(), "rest");  // waits for what arrives next
  client_->PollForClose(false);                 // nothing arrives within 1 ms: no error
  EXPECT_TRUE(client_->IsConnected());
  client_->WriteText("x");  // the peer closes now
  std::this_thread::sleep_for(100ms);
  client_->PollForClose(false);
  EXPECT_FALSE(client_->IsConnected());
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

namespace {

TEST_F(ClientTest, BufferedRunOffersTheBytesSingleByteReadsWouldTakeUnheard) {
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

}  // namespace
