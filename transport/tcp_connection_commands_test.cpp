// The operations the connection builds on its byte stream: lines with a
// terminator and a maximum length, replies to commands, streams and files.

#include "transport/tcp_connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
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
using testing_support::WriteAll;

using ConnectionCommandsTest = testing_support::ClientFixture;

TEST_F(ConnectionCommandsTest, ReadTextLineSplitsOnTerminatorAndHonoursMaxLength) {
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
TEST_F(ConnectionCommandsTest, MaxLineLengthCountsTheLineWithoutItsTerminator) {
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

TEST_F(ConnectionCommandsTest, ReadAllCollectsUntilThePeerCloses) {
  std::string big(100000, 'q');
  LoopbackPeer peer(SendAndClose(big));
  ConnectTo(peer.port());
  EXPECT_EQ(client_->ReadAll(), big);
  EXPECT_FALSE(client_->IsConnected());
}

TEST_F(ConnectionCommandsTest, StreamDataGoesOutWithLengthPrefixInChunks) {
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

TEST_F(ConnectionCommandsTest, SendFileSendsTheFileOrSaysWhyItCannot) {
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

TEST_F(ConnectionCommandsTest, CommandsCheckTheirReplyCodes) {
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

TEST_F(ConnectionCommandsTest, ConvenienceReadsOverTheBufferedStream) {
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

}  // namespace
