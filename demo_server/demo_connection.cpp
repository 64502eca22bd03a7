#include "demo_server/demo_connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "demo_server/loopback_socket.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A peer that never ends its line must not make us hold its bytes forever.
constexpr size_t kLongestLine = size_t{64} * 1024;
// How long a graceful close waits for the peer to hang up in turn.
constexpr milliseconds kLingerTime{5000};

// What a misconfigured server puts in front of the record: an HTTP header
// block and a byte order mark.
constexpr char kNoise[] =
    "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\nConnection: keep-alive\r\n\r\n\xEF\xBB\xBF";

bool IsRequest(const std::string& line) { return line == "GET /" || line.starts_with("GET / "); }

std::string Printable(const std::string& line) {
  std::string text;
  for (unsigned char c : line.substr(0, 80)) {
    text += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
  }
  return text;
}

// Sends the answer whole, or in pieces with pauses (--split). False when the
// peer is gone or the server stops.
bool SendAnswer(int fd, const std::string& answer, const DemoContext& context) {
  const DemoOptions& options = context.options();
  if (options.split <= 0) return SendAll(fd, answer.data(), answer.size());
  const size_t piece = static_cast<size_t>(options.split);
  for (size_t at = 0; at < answer.size(); at += piece) {
    if (at > 0 && !context.stop().SleepFor(milliseconds(options.split_delay_ms))) return false;
    if (!SendAll(fd, answer.data() + at, std::min(piece, answer.size() - at))) return false;
  }
  return true;
}

// Closing a socket with unread input makes the kernel send a reset instead
// of an orderly end, so we end our side first and read on until the peer
// hangs up (or a while has passed) before the descriptor is closed.
void CloseGracefully(int fd, const StopFlag& stop) {
  ::shutdown(fd, SHUT_WR);
  const auto deadline = Clock::now() + kLingerTime;
  char sink[4096];
  while (Clock::now() < deadline) {
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    if (stop.WaitFor(fd, POLLIN, left) != StopFlag::Wait::kReady) return;
    ssize_t got = ::recv(fd, sink, sizeof sink, 0);
    if (got == 0 || (got < 0 && errno != EINTR)) return;
  }
}

// With a zero linger time close() drops the connection with a reset.
void Reset(int fd) {
  linger option{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

}  // namespace

DemoContext::DemoContext(const DemoOptions& options, StopFlag& stop, std::ostream* log)
    : options_(options), stop_(stop), maker_(options.seed), log_(options.quiet ? nullptr : log) {}

std::string DemoContext::NextRecord() {
  std::lock_guard lock(maker_mutex_);
  return maker_.Next(std::chrono::system_clock::now());
}

void DemoContext::Log(const std::string& line) {
  std::lock_guard lock(log_mutex_);
  if (log_ != nullptr) *log_ << "demo-status-server: " << line << std::endl;
}

std::string DemoAnswer(const std::string& record, const DemoOptions& options) {
  std::string answer = record;
  if (options.nul) {
    // One NUL right after the opening tag, one inside the first value and two
    // inside the terminator: a reader has to skip them all to see the record.
    const size_t terminator = answer.rfind("</StatusChange>");
    if (terminator != std::string::npos) answer.insert(terminator + 8, std::string(2, '\0'));
    const size_t value = answer.find("</LogRec.SyslogID>");
    if (value != std::string::npos && value > 0) answer.insert(value - 1, 1, '\0');
    const size_t open = answer.find("<StatusChange>");
    if (open != std::string::npos) answer.insert(open + 14, 1, '\0');
  }
  if (options.garbage) answer.insert(0, kNoise);
  return answer;
}

void ServeDemoConnection(UniqueFd socket, int number, DemoContext& context) {
  const DemoOptions& options = context.options();
  const std::string name = "connection " + std::to_string(number) + ": ";
  const int fd = socket.Get();
  std::string pending;
  int records = 0;
  std::optional<Clock::time_point> last_answer;
  char buffer[4096];

  for (;;) {
    if (context.stop().WaitFor(fd, POLLIN, milliseconds(-1)) == StopFlag::Wait::kStopped) return;
    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      context.Log(name + (got == 0 ? "closed by the peer" : std::strerror(errno)));
      return;
    }
    pending.append(buffer, static_cast<size_t>(got));

    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (line.ends_with('\r')) line.pop_back();
      if (!IsRequest(line)) {
        context.Log(name + "ignored the line \"" + Printable(line) + "\"");
        continue;
      }
      if (last_answer) {
        auto due = *last_answer + milliseconds(options.interval_ms);
        auto wait = std::chrono::ceil<milliseconds>(due - Clock::now());
        if (wait.count() > 0 && !context.stop().SleepFor(wait)) return;
      }
      last_answer = Clock::now();
      const std::string answer = DemoAnswer(context.NextRecord(), options);
      if (!SendAnswer(fd, answer, context)) {
        context.Log(name + "stopped while sending");
        return;
      }
      ++records;
      context.Log(name + "record " + std::to_string(records) + " sent (" +
                  std::to_string(answer.size()) + " bytes)");
      if (records == options.reset_after) {
        context.Log(name + "resetting the connection");
        Reset(fd);
        return;
      }
      if (records == options.close_after) {
        context.Log(name + "closing the connection");
        CloseGracefully(fd, context.stop());
        return;
      }
    }
    if (pending.size() > kLongestLine) {
      context.Log(name + "line too long, closing");
      return;
    }
  }
}
