#include "demo_server/demo_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "demo_server/loopback_socket.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr char kTerminator[] = "</StatusChange>";

std::string WithoutNuls(std::string text) {
  std::erase(text, '\0');
  return text;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// A plain loopback client, the way a monitor talks to the server.
class Client {
 public:
  explicit Client(std::uint16_t port) : socket_(ConnectToLoopback(port, &connect_error_)) {}
  bool Connected() const { return connect_error_ == 0; }

  void Send(const std::string& text) {
    ASSERT_EQ(::send(socket_.Get(), text.data(), text.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(text.size()));
  }

  /// Reads until the bytes without NULs hold `records` terminators, the
  /// connection ends, or `timeout` passes; returns all bytes read so far.
  std::string ReadRecords(size_t records, std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    while (Count(WithoutNuls(received_), kTerminator) < records && Receive(deadline) > 0) {
    }
    return received_;
  }

  /// Waits for the end of the connection: 0 for an orderly end, the errno of
  /// a failed receive, or -1 when it stayed open for `timeout`. Bytes that
  /// arrive meanwhile are kept.
  int WaitForEnd(std::chrono::milliseconds timeout = 5s) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      ssize_t got = Receive(deadline);
      if (got == 0) return 0;
      if (got == kTimedOut) return -1;
      if (got == kFailed) return error_;
    }
  }

  int receives() const { return receives_; }
  const std::string& received() const { return received_; }

 private:
  static constexpr ssize_t kTimedOut = -1;
  static constexpr ssize_t kFailed = -2;  // errno in error_

  // One receive: the count of bytes read, 0 at the end, or one of the above.
  ssize_t Receive(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd entry{socket_.Get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) != 1) {
      return kTimedOut;
    }
    char buffer[4096];
    ssize_t got = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
    if (got < 0) {
      error_ = errno;
      return kFailed;
    }
    ++receives_;
    received_.append(buffer, static_cast<size_t>(got));
    return got;
  }

  int connect_error_ = 0;  // set while socket_ is made, so declared first
  UniqueFd socket_;
  std::string received_;
  int receives_ = 0;
  int error_ = 0;
};

class DemoServerTest : public ::testing::Test {
 protected:
  // Starts a server on a free port, quiet, with a fixed seed, serving on a
  // thread of the test.
  void Start(DemoOptions options) {
    options.port = 0;
    options.seed = 7;
    options.quiet = true;
    server_ = std::make_unique<DemoServer>(options, stop_, nullptr);
    runner_ = std::thread([this] {
      server_->Run();
      run_ended_ = Clock::now();
      finished_ = true;
    });
  }

  // Waits up to `timeout` for Run() to return.
  bool WaitForRunEnd(std::chrono::milliseconds timeout) {
    for (auto deadline = Clock::now() + timeout; Clock::now() < deadline;) {
      if (finished_) return true;
      std::this_thread::sleep_for(10ms);
    }
    return finished_;
  }

  void TearDown() override {
    stop_.Raise();
    if (runner_.joinable()) runner_.join();
  }

  std::uint16_t Port() const { return server_->Port(); }

  StopFlag stop_;
  std::unique_ptr<DemoServer> server_;
  std::thread runner_;
  std::atomic<bool> finished_{false};
  Clock::time_point run_ended_;
};

DemoOptions Options() {
  DemoOptions options;
  options.interval_ms = 0;
  return options;
}

TEST_F(DemoServerTest, AnswersEachRequestLineWithOneRecordAndIgnoresOtherLines) {
  Start(Options());
  Client client(Port());
  ASSERT_TRUE(client.Connected());
  client.Send("GET /\r\n");
  std::string first = client.ReadRecords(1);
  ASSERT_TRUE(first.starts_with("<StatusChange>")) << first;
  ASSERT_TRUE(first.ends_with(kTerminator)) << first;

  // A bare LF ends a line too; a request split over writes still counts;
  // anything but "GET /" gets no answer.
  client.Send("HELLO\r\nGET /\n");
  client.Send("GE");
  std::this_thread::sleep_for(50ms);
  client.Send("T /\r\n");
  std::string all = client.ReadRecords(3);
  EXPECT_EQ(Count(all, kTerminator), 3u);
  EXPECT_NE(all.find("<LogRec.SyslogID>1001</LogRec.SyslogID>"), std::string::npos) << all;
  EXPECT_NE(all.find("<LogRec.SyslogID>1002</LogRec.SyslogID>"), std::string::npos) << all;
  EXPECT_EQ(client.WaitForEnd(300ms), -1) << "no answer for the other line";
  EXPECT_EQ(Count(client.received(), kTerminator), 3u);
}

TEST_F(DemoServerTest, RecordIdsCountUpAcrossConnections) {
  Start(Options());
  Client first(Port()), second(Port());
  first.Send("GET /\r\n");
  ASSERT_NE(first.ReadRecords(1).find(">1000<"), std::string::npos);
  second.Send("GET /\r\n");
  EXPECT_NE(second.ReadRecords(1).find(">1001<"), std::string::npos) << second.received();
}

TEST_F(DemoServerTest, KeepsTheIntervalBetweenRecordsOnAConnection) {
  DemoOptions options = Options();
  options.interval_ms = 400;
  Start(options);
  Client client(Port());
  const auto start = Clock::now();
  client.Send("GET /\r\nGET /\r\n");
  client.ReadRecords(1);
  const auto first = Clock::now();
  client.ReadRecords(2);
  const auto second = Clock::now();
  EXPECT_LT(first - start, 300ms) << "the first record comes at once";
  EXPECT_GE(second - start, 380ms);
  EXPECT_LT(second - start, 3s);
}

TEST_F(DemoServerTest, CloseAfterEndsInOrderEvenWithRequestsPending) {
  DemoOptions options = Options();
  options.close_after = 2;
  Start(options);
  Client client(Port());
  client.Send("GET /\r\nGET /\r\nGET /\r\n");
  client.ReadRecords(2);
  EXPECT_EQ(client.WaitForEnd(), 0) << "an orderly end, not a reset";
  EXPECT_EQ(Count(client.received(), kTerminator), 2u);
}

TEST_F(DemoServerTest, CloseAfterEndsInOrderWhenTheNextRequestComesLate) {
  DemoOptions options = Options();
  options.close_after = 1;
  Start(options);
  Client client(Port());
  client.Send("GET /\r\n");
  client.ReadRecords(1);
  client.Send("GET /\r\n");  // lands on a connection the server is closing
  EXPECT_EQ(client.WaitForEnd(), 0);
}

TEST_F(DemoServerTest, ResetAfterResetsTheConnection) {
  DemoOptions options = Options();
  options.reset_after = 1;
  Start(options);
  Client client(Port());
  client.Send("GET /\r\n");
  EXPECT_EQ(client.WaitForEnd(), ECONNRESET);
}

TEST_F(DemoServerTest, NulPutsNulBytesIntoTheRecordAndItsTerminator) {
  DemoOptions options = Options();
  options.nul = true;
  Start(options);
  Client client(Port());
  client.Send("GET /\r\n");
  const std::string answer = client.ReadRecords(1);
  EXPECT_GE(Count(answer, std::string(1, '\0')), 4u);
  EXPECT_EQ(answer.find(kTerminator), std::string::npos) << "NULs inside the terminator";
  const std::string record = WithoutNuls(answer);
  EXPECT_TRUE(record.starts_with("<StatusChange><")) << record;
  EXPECT_TRUE(record.ends_with(kTerminator)) << record;
  EXPECT_NE(record.find("<LogRec.SyslogID>1000</LogRec.SyslogID>"), std::string::npos);
}

TEST_F(DemoServerTest, GarbageComesBeforeTheRecord) {
  DemoOptions options = Options();
  options.garbage = true;
  Start(options);
  Client client(Port());
  client.Send("GET /\r\n");
  const std::string answer = client.ReadRecords(1);
  EXPECT_TRUE(answer.starts_with("HTTP/1.0 200 OK\r\n")) << answer;
  EXPECT_NE(answer.find("\r\n\r\n\xEF\xBB\xBF<StatusChange>"), std::string::npos) << answer;
}

TEST_F(DemoServerTest, SplitWritesTheRecordInPiecesWithPauses) {
  DemoOptions options = Options();
  options.split = 40;
  options.split_delay_ms = 30;
  Start(options);
  Client client(Port());
  const auto start = Clock::now();
  client.Send("GET /\r\n");
  const std::string answer = client.ReadRecords(1);
  const auto took = Clock::now() - start;
  ASSERT_TRUE(answer.ends_with(kTerminator));
  const size_t pieces = (answer.size() + 39) / 40;
  ASSERT_GE(pieces, 3u);
  EXPECT_GE(took, (pieces - 1) * 30ms - 5ms);
  EXPECT_GE(client.receives(), 2);
}

TEST_F(DemoServerTest, MaxConnectionsEndsRunWhenTheyHaveEndedAndRefusesMore) {
  DemoOptions options = Options();
  options.max_connections = 1;
  Start(options);
  {
    Client client(Port());
    client.Send("GET /\r\n");
    client.ReadRecords(1);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(finished_) << "the connection is still open";
    EXPECT_FALSE(Client(Port()).Connected()) << "the listener is closed after the last one";
  }
  EXPECT_TRUE(WaitForRunEnd(3s));
  EXPECT_FALSE(stop_.Raised());
}

TEST_F(DemoServerTest, ExitAfterEndsRunAndOpenConnections) {
  DemoOptions options = Options();
  options.exit_after_ms = 300;
  const auto start = Clock::now();
  Start(options);
  Client client(Port());
  ASSERT_TRUE(client.Connected());
  EXPECT_EQ(client.WaitForEnd(3s), 0);
  ASSERT_TRUE(WaitForRunEnd(3s));
  EXPECT_GE(run_ended_ - start, 290ms);
  EXPECT_TRUE(stop_.Raised());
}

TEST_F(DemoServerTest, TheStopFlagEndsRunEvenDuringAPause) {
  DemoOptions options = Options();
  options.interval_ms = 60000;
  Start(options);
  Client client(Port());
  client.Send("GET /\r\nGET /\r\n");  // the second answer is due in a minute
  client.ReadRecords(1);
  const auto start = Clock::now();
  stop_.Raise();
  ASSERT_TRUE(WaitForRunEnd(3s));
  EXPECT_LT(run_ended_ - start, 1s);
  EXPECT_EQ(client.WaitForEnd(1s), 0);
}

TEST(DemoServerBindTest, ATakenPortIsReportedAsAnError) {
  StopFlag stop;
  DemoOptions options;
  options.port = 0;
  DemoServer first(options, stop, nullptr);
  options.port = first.Port();
  EXPECT_THROW(DemoServer(options, stop, nullptr), std::system_error);
}

}  // namespace
