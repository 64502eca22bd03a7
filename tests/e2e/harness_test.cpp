// Tests of the end-to-end harness itself: if the masking, the runner or the
// scripted server were wrong, the monitor's end-to-end tests would prove
// nothing.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/e2e/child_process.h"
#include "tests/e2e/held_port.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"
#include "transport/testing/loopback_peer.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;

TEST(LogMaskTest, MasksWellFormedStampsOnly) {
  const struct {
    const char* log;
    const char* masked;
  } cases[] = {
      {"09:05:03.007 GET /\r\n", "hh:mm:ss.zzz GET /\r\n"},
      {"23:59:59.999Error: x", "hh:mm:ss.zzzError: x"},
      {"a00:00:00.00012:34:56.789b", "ahh:mm:ss.zzzhh:mm:ss.zzzb"},
      {"24:00:00.000", "24:00:00.000"},  // no such hour
      {"12:60:00.000", "12:60:00.000"},
      {"12:00:60.000", "12:00:60.000"},
      {"9:05:03.007", "9:05:03.007"},
      {"09.05.03.007", "09.05.03.007"},  // another locale's separator
      {"09:05:03,007", "09:05:03,007"},
      {"09:05:03.07", "09:05:03.07"},
      {"2026-12-10T05:31:07Z", "2026-12-10T05:31:07Z"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(MaskTimeStamps(c.log), c.masked) << c.log;
}

TEST(LogMaskTest, StampMillisecondsReadsTheTimeOfDay) {
  EXPECT_EQ(StampMilliseconds("x09:05:03.007", 1), ((9 * 60 + 5) * 60 + 3) * 1000 + 7);
  EXPECT_EQ(StampMilliseconds("23:59:59.999", 0), 86399999);
  EXPECT_EQ(StampMilliseconds("x09:05:03.007", 0), -1);
  EXPECT_EQ(StampMilliseconds("09:05:03.0", 0), -1);
  EXPECT_EQ(StampMilliseconds("09:05", 7), -1);
}

TEST(LogMaskTest, PrefixMismatchAllowsOnlyAStampCutAtTheEnd) {
  const std::string expected = "Version\r\nhh:mm:ss.zzz GET /\r\n";
  const struct {
    const char* actual;
    bool matches;
  } cases[] = {
      {"", true},
      {"Version\r\n", true},
      {"Version\r\n09:0", true},
      {"Version\r\n09:05:03.", true},
      {"Version\r\n09:05:03.007 GET /\r\n", true},
      {"Version\r\n09x", false},
      {"Version\r\n09:05:03.007 GET /x", false},
      {"Version\n", false},
      {"Version\r\n09:05:03.007 GET /\r\nmore", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PrefixMismatch(expected, c.actual).empty(), c.matches) << Visible(c.actual);
  }
}

TEST(LogMaskTest, VisibleShowsLineEndsAndOtherBytes) {
  EXPECT_EQ(Visible(std::string("a\r\n\0\x7F\xFF\\", 7)), "a\\r\\n\n\\0\\x7F\\xFF\\\\");
}

TEST(ChildProcessTest, TerminalDeliversTheBytesUnchangedAsTheyAreWritten) {
  ChildProcess child(
      {"/bin/sh", "-c",
       "[ -t 1 ] && printf 'tty %s\\r\\nb\\n' \"$LC_ALL\"; sleep 0.3; printf 'c\\000d'"},
      StdoutTo::kTerminal);
  ASSERT_TRUE(child.WaitForExit(5s));
  EXPECT_EQ(child.Output(), std::string("tty C\r\nb\nc\0d", 12));
  EXPECT_EQ(child.ExitCode(), 0);
  const auto first = child.ArrivalOf(0), last = child.ArrivalOf(11);
  EXPECT_GE(last - first, 250ms);
  EXPECT_EQ(child.ReadsBetween(0, 12), 2);
}

TEST(ChildProcessTest, FileOutputStandardErrorAndExitCode) {
  ChildProcess child({"/bin/sh", "-c", "[ -t 1 ] || printf 'file'; echo oops >&2; exit 3"},
                     StdoutTo::kFile);
  ASSERT_TRUE(child.WaitForExit(5s));
  EXPECT_EQ(child.Output(), "file");
  EXPECT_EQ(child.ErrorOutput(), "oops\n");
  EXPECT_EQ(child.ExitCode(), 3);
  EXPECT_EQ(child.TermSignal(), 0);
  EXPECT_EQ(child.FileSizesSeen().back(), 4u);
}

TEST(ChildProcessTest, TheChildGetsDefaultSignalHandlingWhateverTheRunnerHas) {
  struct sigaction ignore {
  }, previous{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &previous);
  ChildProcess child({"/bin/sleep", "10"}, StdoutTo::kTerminal);
  sigaction(SIGINT, &previous, nullptr);
  const auto start = Clock::now();
  child.Stop(SIGINT);
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(child.TermSignal(), SIGINT);
}

TEST(ChildProcessTest, AMissingProgramIsAnError) {
  EXPECT_THROW(ChildProcess({"/nonexistent/program"}, StdoutTo::kFile), std::runtime_error);
}

// A loopback client for the scripted server.
class Client {
 public:
  explicit Client(std::uint16_t port)
      : socket_(testing_support::ConnectToLoopback(port, &error_)) {}
  int ConnectError() const { return error_; }
  void Send(const std::string& text) {
    ::send(socket_.Get(), text.data(), text.size(), MSG_NOSIGNAL);
  }
  // Everything until the end of the connection; `error` gets the errno of a
  // failed receive, 0 for an orderly end.
  std::string ReceiveAll(int* error) {
    std::string text;
    char buffer[256];
    for (;;) {
      ssize_t got = ::recv(socket_.Get(), buffer, sizeof buffer, 0);
      if (got <= 0) {
        *error = got == 0 ? 0 : errno;
        return text;
      }
      text.append(buffer, static_cast<size_t>(got));
    }
  }
  // Reads exactly `size` bytes (or less, when the connection ends).
  std::string Receive(size_t size) {
    std::string text;
    char buffer[256];
    while (text.size() < size) {
      ssize_t got = ::recv(socket_.Get(), buffer, std::min(sizeof buffer, size - text.size()), 0);
      if (got <= 0) break;
      text.append(buffer, static_cast<size_t>(got));
    }
    return text;
  }

 private:
  int error_ = 0;  // set while socket_ is made, so declared first
  testing_support::ScopedFd socket_;
};

TEST(ScriptedServerTest, FollowsEachConnectionsScriptThenRefuses) {
  ScriptedServer server({
      {Expect("GET /\r\n"), SendInPieces("hello world", 3, 10ms), Expect("GET /\r\n"), Close()},
      {Send("second"), Pause(50ms), Close()},
  });
  {
    Client client(server.Port());
    ASSERT_EQ(client.ConnectError(), 0);
    client.Send("GET /\r\n");
    EXPECT_EQ(client.Receive(11), "hello world");
    client.Send("GET /\r\n");
    int error = -1;
    EXPECT_EQ(client.ReceiveAll(&error), "");
    EXPECT_EQ(error, 0) << "an orderly end";
  }
  {
    Client client(server.Port());
    int error = -1;
    EXPECT_EQ(client.ReceiveAll(&error), "second");
    EXPECT_EQ(error, 0);
  }
  EXPECT_TRUE(server.WaitUntilDone(2s));
  EXPECT_EQ(Client(server.Port()).ConnectError(), ECONNREFUSED);
  EXPECT_TRUE(server.Problems().empty());
}

TEST(ScriptedServerTest, WithoutScriptsThePortRefuses) {
  ScriptedServer server({});
  EXPECT_EQ(Client(server.Port()).ConnectError(), ECONNREFUSED);
}

TEST(ScriptedServerTest, ResetDropsTheConnection) {
  ScriptedServer server({{Send("part"), Pause(100ms), Reset()}});
  Client client(server.Port());
  int error = 0;
  EXPECT_EQ(client.ReceiveAll(&error), "part");
  EXPECT_EQ(error, ECONNRESET);
}

TEST(ScriptedServerTest, ReportsUnexpectedBytesAndAnEarlyEnd) {
  ScriptedServer server({{Expect("GET /\r\n"), Close()}, {Expect("GET /\r\n"), Close()}});
  Client(server.Port()).Send("PUT /\r\n");
  {
    Client client(server.Port());
    client.Send("GET");
  }
  ASSERT_TRUE(server.WaitUntilDone(2s));
  const std::vector<std::string> problems = server.Problems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_EQ(problems[0], "connection 1, step 1: expected \"GET /\\r\\n\", got \"PUT /\\r\\n\"");
  EXPECT_EQ(problems[1],
            "connection 2, step 1: the peer left while \"GET /\\r\\n\" was expected, got \"GET\"");
}

// The soak's and the scripted server's ground: servers listen on a held port
// in turn, the demo server among them, and while none does, connects are
// refused and the port is no one else's.
TEST(HeldPortTest, ServersListenInTurnAndNoOneElseBindsIt) {
  const HeldPort port;
  EXPECT_EQ(Client(port.Number()).ConnectError(), ECONNREFUSED);
  for (int turn = 0; turn < 2; ++turn) {
    UniqueFd listener = ListenOnLoopback(port.Number(), 1);
    EXPECT_EQ(Client(port.Number()).ConnectError(), 0) << "turn " << turn;
  }
  EXPECT_EQ(Client(port.Number()).ConnectError(), ECONNREFUSED);

  {
    ChildProcess server({DEMO_SERVER_PATH, "--port", std::to_string(port.Number())},
                        StdoutTo::kFile);
    const std::string listening =
        "demo-status-server: listening on 127.0.0.1:" + std::to_string(port.Number()) + "\n";
    EXPECT_TRUE(server.WaitFor([&](const std::string& out) { return out == listening; }, 5s))
        << server.Output() << server.ErrorOutput();
    EXPECT_EQ(Client(port.Number()).ConnectError(), 0);
    server.Stop(SIGTERM);
  }
  EXPECT_EQ(Client(port.Number()).ConnectError(), ECONNREFUSED);

  // A socket of another program, without SO_REUSEADDR.
  UniqueFd other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port.Number());
  EXPECT_NE(::bind(other.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  EXPECT_EQ(errno, EADDRINUSE);
}

TEST(DemoServerProgramTest, EndsInOrderOnSigintAndSigterm) {
  for (int signal : {SIGINT, SIGTERM}) {
    ChildProcess server({DEMO_SERVER_PATH, "--port", "0"}, StdoutTo::kFile);
    ASSERT_TRUE(server.WaitFor(
        [](const std::string& out) { return out.find('\n') != std::string::npos; }, 5s));
    EXPECT_TRUE(server.Output().starts_with("demo-status-server: listening on 127.0.0.1:"));
    const auto start = Clock::now();
    server.Stop(signal);
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(server.ExitCode(), 0) << "signal " << signal << ": " << server.ErrorOutput();
  }
}

TEST(DemoServerProgramTest, RejectsABadOption) {
  ChildProcess server({DEMO_SERVER_PATH, "--port", "http"}, StdoutTo::kFile);
  ASSERT_TRUE(server.WaitForExit(5s));
  EXPECT_EQ(server.ExitCode(), 2);
  EXPECT_TRUE(server.ErrorOutput().starts_with(
      "demo-status-server: --port: not a number from 0 to 65535: http\nusage:"))
      << server.ErrorOutput();
}

}  // namespace
}  // namespace e2e
