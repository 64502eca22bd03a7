// The monitor loop driven in process: real client, real loopback sockets, a
// scripted peer; the console is a recording sink that fails on demand, the
// pauses return at once (and advance the clock), and the endless loop is left
// by raising an object that is not an Exception, which passes every handler.

#include "monitor/run_monitor.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/application.h"
#include "monitor/testing/fake_console_sink.h"
#include "monitor/text_output.h"
#include "monitor/version.h"
#include "runtime/runtime_errors.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/tcp_client.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/testing/loopback_peer.h"

namespace {

struct StopMonitor {};  // not derived from Exception

using testing_support::FaultInjectingStack;
using testing_support::ScopedFd;
using testing_support::StackFaultPlan;
using testing_support::StackOperation;

// One accepted connection, seen from the server's side.
class Peer {
 public:
  Peer(int fd, const std::atomic<bool>& stop) : fd_(fd), stop_(stop) {}

  // The next line with its CR LF; "" when the client closed or the test ends.
  std::string ReadLine() {
    std::string line;
    while (line.empty() || line.back() != '\n') {
      if (!WaitReadable()) return "";
      std::string byte = testing_support::ReadSome(fd_, 1);
      if (byte.empty()) return "";
      line += byte;
    }
    return line;
  }

  void Send(std::string_view bytes) { testing_support::WriteAll(fd_, std::string(bytes)); }

  // Waits until the client goes away (or the test ends).
  void WaitForClose() {
    while (WaitReadable() && !testing_support::ReadSome(fd_, 1).empty()) {
    }
  }

 private:
  // False when the test ends, or when nothing comes for ten seconds: a
  // monitor that waits for bytes it should not need then sees the connection
  // close, and its test fails instead of hanging.
  bool WaitReadable() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      if (testing_support::WaitReadable(fd_, 50)) return true;
    }
    return false;
  }

  int fd_;
  const std::atomic<bool>& stop_;
};

// Listens on 127.0.0.1 at an ephemeral port and serves one script per
// accepted connection, in order; after the last one it stops listening, so
// that later connects are refused. Records every line the scripts read.
class ScriptedServer {
 public:
  using Script = std::function<void(Peer&)>;

  explicit ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
    listener_ = testing_support::ListenOnLoopback(4, &port_);
    thread_ = std::thread([this] { Serve(); });
  }

  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
  }

  int Port() const { return port_; }

 private:
  void Serve() {
    for (std::size_t i = 0; i < scripts_.size(); ++i) {
      while (!stop_ && !testing_support::WaitReadable(listener_.Get(), 50)) {
      }
      if (stop_) return;
      ScopedFd connection = testing_support::AcceptConnection(listener_.Get());
      if (i + 1 == scripts_.size()) {  // refuse from now on, before the client can retry
        // Bound again at once, not listening: a port left free could become
        // the local port of the client's next connect, which would then
        // connect to itself.
        listener_ = ScopedFd();
        listener_ = testing_support::BindLoopback(port_);
      }
      Peer peer(connection.Get(), stop_);
      scripts_[i](peer);
    }
  }

  std::vector<Script> scripts_;
  ScopedFd listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// A port on which nothing listens (kept bound, never listening).
int RefusingPort() { return testing_support::RefusedPort(); }

const std::string kRecord =
    "<StatusChange><LogRec.SyslogID>17</LogRec.SyslogID><Event>up</Event>"
    "<DateTime>2024-03-05 09:05</DateTime><Version>2</Version></StatusChange>";

const std::string kReport =
    "SYSLOG.ID: 17\r\nEVENT: up\r\nDATETIME: 2024-03-05 09:05\r\nVERSION: 2\r\n";

class RunMonitorTest : public ::testing::Test {
 protected:
  RunMonitorTest() : out_(sink_), state_(1 << 20) {
    services_.output = &out_;
    services_.pause = [this](std::int32_t milliseconds) {
      pauses_.push_back(milliseconds);
      elapsed_ms_ += milliseconds;
      // The cap ends a loop that never meets its test's stop condition.
      if (pauses_.size() == stop_after_pauses_ || pauses_.size() == kMostPauses) {
        throw StopMonitor{};
      }
    };
    services_.now = [this] {
      return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7}) + elapsed_ms_ / 86400000.0;
    };
    services_.application = &application_;
    settings_.status_server_host = "localhost";
    sink_.after_write = [this](const std::string& written) {
      if (!stop_when_written_.empty() && written.find(stop_when_written_) != std::string::npos)
        throw StopMonitor{};
    };
  }

  // Runs the monitor against `port` until the test's stop condition.
  static constexpr std::size_t kMostPauses = 20;

  void Run(int port) {
    settings_.status_server_port = port;
    EXPECT_THROW(RunMonitor(settings_, services_, state_), StopMonitor);
  }

  FakeConsoleSink sink_{/*character_device=*/true};
  TextOutput out_;
  TApplication application_;
  MonitorServices services_;
  MonitorSettings settings_;
  MonitorState state_;
  std::vector<std::int32_t> pauses_;
  double elapsed_ms_ = 0;
  std::size_t stop_after_pauses_ = 0;
  std::string stop_when_written_;
};

const std::string kBanner = std::string("Version: ") + kProgramVersion + "\r\n\r\n";

TEST_F(RunMonitorTest, NoServerReachableRetriesAfterTwoSecondsForever) {
  stop_after_pauses_ = 3;
  Run(RefusingPort());
  std::string error =
      "Error: Socket Error # 10061\r\nConnection refused. (EIdConnectException)\r\n";
  EXPECT_EQ(std::string(kBanner) + "09:05:03.007" + error + "09:05:05.007" + error +
                "09:05:07.007" + error,
            sink_.Written());
  EXPECT_EQ((std::vector<std::int32_t>{2000, 2000, 2000}), pauses_);
  EXPECT_EQ(1100, state_.TraceCode);
}

// The build's setting goes to the client; a monitor built with 0 (the
// settings' default) asks for no dead-path detection.
TEST_F(RunMonitorTest, DeadPathTimeOutReachesTheClient) {
  EXPECT_EQ(MonitorSettings{}.dead_path_timeout_s, 0);
  settings_.dead_path_timeout_s = 42;
  stop_after_pauses_ = 1;
  Run(RefusingPort());
  ASSERT_NE(state_.StatusClient, nullptr);
  EXPECT_EQ(state_.StatusClient->DeadPathTimeoutS, 42);
}

TEST_F(RunMonitorTest, RecordThenCloseAfterTheNextRequest) {
  std::vector<std::string> requests;
  {
    ScriptedServer server({[&](Peer& peer) {
      requests.push_back(peer.ReadLine());
      peer.Send(kRecord);
      requests.push_back(peer.ReadLine());
    }});
    stop_when_written_ = " Disconnected";
    Run(server.Port());
  }  // the server's thread is joined: only now may this thread read `requests`
  EXPECT_EQ(std::string(kBanner) + "09:05:03.007 Connected to localhost\r\n" +
                "09:05:03.007 GET /\r\n" + kRecord + "\r\n09:05:03.007\r\n" + kReport +
                "09:05:03.007 GET /\r\n" +
                "09:05:04.007Error: Connection Closed Gracefully. (EIdConnClosedGracefully)\r\n" +
                "09:05:04.007 Disconnected\r\n",
            sink_.Written());
  EXPECT_EQ((std::vector<std::int32_t>{1000}), pauses_);
  EXPECT_EQ((std::vector<std::string>{"GET /\r\n", "GET /\r\n"}), requests);
  EXPECT_EQ("17", state_.LastSyslogID);
  EXPECT_EQ(240, state_.TraceCode);
}

TEST_F(RunMonitorTest, BytesAfterTheTerminatorOpenTheNextPassAndNulBytesAreDropped) {
  ScriptedServer server({[&](Peer& peer) {
    peer.ReadLine();
    // One network write: a record with NUL bytes inside its terminator,
    // followed by the start of the next one.
    peer.Send(std::string("<Event>A</Event></Status\0Chan\0ge>\0<Ev", 37));
    peer.ReadLine();
    peer.Send("ent>B</Event></StatusChange>");
    peer.WaitForClose();
  }});
  stop_when_written_ = "EVENT: B";
  Run(server.Port());
  std::string written = sink_.Written();
  EXPECT_EQ(std::string::npos, written.find('\0'));
  EXPECT_NE(std::string::npos,
            written.find("GET /\r\n<Event>A</Event></StatusChange>\r\n09:05:03.007\r\n"
                         "SYSLOG.ID: \r\nEVENT: A\r\n"));
  EXPECT_NE(std::string::npos,
            written.find("GET /\r\n<Event>B</Event></StatusChange>\r\n09:05:03.007\r\n"
                         "SYSLOG.ID: \r\nEVENT: B"));
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(RunMonitorTest, PeerClosingMidRecordIsAnnouncedOnceThenConnectsFail) {
  ScriptedServer server({[&](Peer& peer) {
    peer.ReadLine();
    peer.Send("<Event>half");
  }});
  stop_after_pauses_ = 3;  // the read pause, then two failed connects
  Run(server.Port());
  std::string written = sink_.Written();
  EXPECT_NE(std::string::npos,
            written.find("GET /\r\n<Event>half09:05:04.007Error: Connection Closed Gracefully. "
                         "(EIdConnClosedGracefully)\r\n09:05:04.007 Disconnected\r\n"
                         "09:05:04.007Error: Socket Error # 10061\r\n"));
  EXPECT_EQ(written.find(" Disconnected"), written.rfind(" Disconnected"));
  EXPECT_EQ((std::vector<std::int32_t>{1000, 2000, 2000}), pauses_);
  EXPECT_FALSE(state_.WasConnected);
}

// A record on the first connection, one more byte on the second: a report
// that failed on the first is made again from the kept text on the second.
std::vector<ScriptedServer::Script> RecordThenOneByteOnTheNextConnection() {
  return {[](Peer& peer) {
            peer.ReadLine();
            peer.Send(kRecord);
            peer.WaitForClose();
          },
          [](Peer& peer) {
            peer.ReadLine();
            peer.Send("x");  // the record test follows a read attempt
            peer.WaitForClose();
          }};
}

TEST_F(RunMonitorTest, FailedReportIsRetriedFromTheKeptTextOnTheNextConnection) {
  ScriptedServer server(RecordThenOneByteOnTheNextConnection());
  int failures = 0;
  sink_.fail_write = [&](std::string_view block) {
    return block.find("SYSLOG.ID") != std::string_view::npos && failures++ == 0 ? 28 : 0;
  };
  stop_when_written_ = "VERSION: 2";
  Run(server.Port());
  std::string written = sink_.Written();
  EXPECT_NE(std::string::npos,
            written.find(kRecord +
                         "\r\n09:05:03.007\r\nError: I/O error 28 (EInOutError) "
                         "LogRec.Trace=260\r\n09:05:03.007 Connected to localhost\r\n"
                         "09:05:03.007 GET /\r\nx\r\n09:05:03.007\r\n" +
                         kReport));
  EXPECT_EQ(std::string::npos, written.find(" Disconnected"));
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(RunMonitorTest, MemoryRunningOutInTheLibraryIsTakenAsTheRuntimesOutOfMemoryError) {
  ScriptedServer server(RecordThenOneByteOnTheNextConnection());
  // An allocation that finds no memory, once, while the report makes its
  // time stamp (the record has been echoed in full by then): the allocation
  // calls the new handler, which the error machinery sets at start-up.
  std::new_handler previous_new_handler = std::set_new_handler(RaiseOutOfMemory);
  bool out_of_memory_pending = false;
  sink_.after_write = [&](const std::string& written) {
    if (written.find(" Connected") == written.rfind(" Connected") &&
        written.size() >= kRecord.size() &&
        written.compare(written.size() - kRecord.size(), kRecord.size(), kRecord) == 0) {
      out_of_memory_pending = true;
    }
    if (written.find("VERSION: 2") != std::string::npos) throw StopMonitor{};
  };
  services_.now = [&] {
    if (std::exchange(out_of_memory_pending, false)) std::get_new_handler()();
    return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7});
  };
  Run(server.Port());
  std::set_new_handler(previous_new_handler);
  // The pass handler takes it with the trace code, and the next connection
  // reports the kept record: the monitor went on.
  EXPECT_NE(std::string::npos,
            sink_.Written().find(kRecord +
                                 "\r\nError: Out of memory (EOutOfMemory) LogRec.Trace=260\r\n"
                                 "09:05:03.007 Connected to localhost\r\n"
                                 "09:05:03.007 GET /\r\nx\r\n09:05:03.007\r\n" +
                                 kReport));
  EXPECT_TRUE(pauses_.empty());
}

TEST_F(RunMonitorTest, EchoThatCannotBeWrittenIsAReadFailure) {
  ScriptedServer server({[&](Peer& peer) {
    peer.ReadLine();
    peer.Send("abQcd");
    peer.WaitForClose();
  }});
  sink_.fail_write = [](std::string_view block) { return block == "Q" ? 28 : 0; };
  stop_when_written_ = " Disconnected";
  Run(server.Port());
  EXPECT_NE(std::string::npos, sink_.Written().find("GET /\r\nab09:05:04.007Error: I/O error 28 "
                                                    "(EInOutError)\r\n09:05:04.007 Disconnected"));
  EXPECT_EQ((std::vector<std::int32_t>{1000}), pauses_);
}

TEST_F(RunMonitorTest, ReadHandlerThatFailsGoesToThePassHandlerAt230) {
  ScriptedServer server({[&](Peer& peer) {
    peer.ReadLine();
    peer.Send("Q");
    peer.WaitForClose();
  }});
  sink_.fail_write = [](std::string_view block) {
    if (block == "Q") return 28;
    if (block.find("Error: I/O error 28") != std::string_view::npos) return 29;
    return 0;
  };
  stop_when_written_ = "LogRec.Trace=";
  Run(server.Port());
  EXPECT_NE(
      std::string::npos,
      sink_.Written().find("GET /\r\nError: I/O error 29 (EInOutError) LogRec.Trace=230\r\n"));
  EXPECT_EQ((std::vector<std::int32_t>{1000}), pauses_);
}

TEST_F(RunMonitorTest, TextBeyondTheLimitIsAReadFailureAndMemoryStaysBounded) {
  MonitorState small(8);
  ScriptedServer server({[&](Peer& peer) {
    peer.ReadLine();
    peer.Send("0123456789");  // no terminator, ever
    peer.WaitForClose();
  }});
  stop_when_written_ = " Disconnected";
  settings_.status_server_port = server.Port();
  EXPECT_THROW(RunMonitor(settings_, services_, small), StopMonitor);
  EXPECT_NE(std::string::npos,
            sink_.Written().find("GET /\r\n012345678"
                                 "09:05:04.007Error: Out of memory (EOutOfMemory)\r\n"
                                 "09:05:04.007 Disconnected\r\n"));
  EXPECT_EQ("01234567", small.ReceivedText.Text());
}

// The stack fails the calls a test plans, chosen at run time through the
// stack class like any other stack.
class RunMonitorWithFailingStackTest : public RunMonitorTest {
 protected:
  void SetUp() override { StackFaultPlan::Get().Clear(); }
  void TearDown() override { StackFaultPlan::Get().Clear(); }

  ScopedStackClass stack_class_{&StackClassOf<FaultInjectingStack>};
};

TEST_F(RunMonitorWithFailingStackTest, RequestThatCannotBeSentIsAPassFailureAt220) {
  ScriptedServer server({[&](Peer& peer) { peer.WaitForClose(); }});
  StackFaultPlan::Get().Fail(StackOperation::kSend, 10054);
  stop_after_pauses_ = 1;
  Run(server.Port());
  // No pause after the pass failure; the next cycle finds the client closed
  // and connects again, to a server that no longer listens.
  EXPECT_EQ(std::string(kBanner) + "09:05:03.007 Connected to localhost\r\n" +
                "Error: Socket Error # 10054\r\nConnection reset by peer. (EIdSocketError) "
                "LogRec.Trace=220\r\n" +
                "09:05:03.007Error: Socket Error # 10061\r\nConnection refused. "
                "(EIdConnectException)\r\n",
            sink_.Written());
  EXPECT_EQ((std::vector<std::int32_t>{2000}), pauses_);
}

TEST_F(RunMonitorTest, FailuresThatNoHandlerTakesLeaveTheMonitor) {
  // The banner cannot be written: standard output is missing.
  sink_.open_error = 105;
  settings_.status_server_port = RefusingPort();
  try {
    RunMonitor(settings_, services_, state_);
    ADD_FAILURE() << "returned";
  } catch (const EInOutError& error) {
    EXPECT_EQ(105, error.ErrorCode());
  }
  EXPECT_FALSE(state_.StatusClient);

  // The connect handler's own line cannot be written.
  FakeConsoleSink sink(true);
  TextOutput out(sink);
  services_.output = &out;
  sink.fail_write = [](std::string_view block) {
    return block.find("Error:") != std::string_view::npos ? 101 : 0;
  };
  MonitorState state(1024);
  EXPECT_THROW(RunMonitor(settings_, services_, state), EInOutError);
  EXPECT_EQ(kBanner, sink.Written());
  EXPECT_TRUE(pauses_.empty());
  EXPECT_EQ(1100, state.TraceCode);
}

}  // namespace
