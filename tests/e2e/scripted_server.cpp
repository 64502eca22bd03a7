#include "tests/e2e/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tests/e2e/log_mask.h"
#include "transport/testing/loopback_peer.h"

namespace e2e {

namespace {

using std::chrono::milliseconds;

// How long a step may wait for the monitor before the script counts as failed.
constexpr milliseconds kStepTimeout{15000};

}  // namespace

Step Expect(std::string bytes) { return {Step::Kind::kExpect, std::move(bytes), 0, {}}; }
Step Send(std::string bytes) { return {Step::Kind::kSend, std::move(bytes), 0, {}}; }
Step SendInPieces(std::string bytes, size_t piece, milliseconds delay) {
  return {Step::Kind::kSend, std::move(bytes), piece, delay};
}
Step Pause(milliseconds length) { return {Step::Kind::kPause, "", 0, length}; }
Step Close() { return {Step::Kind::kClose, "", 0, {}}; }
Step Reset() { return {Step::Kind::kReset, "", 0, {}}; }

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
  if (!scripts_.empty()) listener_ = ListenOnLoopback(port_.Number(), 4);
  thread_ = std::thread([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() {
  stop_.Raise();
  thread_.join();
}

bool ScriptedServer::WaitUntilDone(milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (done_) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    stop_.SleepFor(milliseconds(10));
  }
}

std::vector<std::string> ScriptedServer::Problems() const {
  std::lock_guard lock(mutex_);
  return problems_;
}

void ScriptedServer::Problem(const std::string& text) {
  std::lock_guard lock(mutex_);
  problems_.push_back(text);
}

void ScriptedServer::Serve() {
  for (size_t index = 0; index < scripts_.size(); ++index) {
    const std::string where = "connection " + std::to_string(index + 1);
    auto wait = stop_.WaitFor(listener_.Get(), POLLIN, milliseconds(-1));
    if (wait == StopFlag::Wait::kStopped) return;
    UniqueFd connection(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.Valid()) {
      Problem(where + ": accept failed: " + std::strerror(errno));
      return;
    }
    // Pieces written apart must travel apart, not wait to be merged.
    int on = 1;
    ::setsockopt(connection.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Whatever comes next is refused: the port stays held, but unheard.
    if (index + 1 == scripts_.size()) listener_.Reset();
    // A failed step ends its connection; the next script still gets its turn.
    const Script& script = scripts_[index];
    bool failed = false;
    for (size_t step = 0; step < script.size() && !failed; ++step) {
      failed =
          !RunStep(connection.Get(), script[step], where + ", step " + std::to_string(step + 1));
    }
    if (stop_.Raised()) return;
    if (failed) continue;
    // A script without Close or Reset holds its connection until the end.
    if (script.empty() ||
        (script.back().kind != Step::Kind::kClose && script.back().kind != Step::Kind::kReset)) {
      if (index + 1 != scripts_.size()) Problem(where + ": only the last script may hold");
      {
        std::lock_guard lock(mutex_);
        done_ = true;
      }
      stop_.WaitFor(-1, 0, milliseconds(-1));
      return;
    }
  }
  std::lock_guard lock(mutex_);
  done_ = true;
}

bool ScriptedServer::RunStep(int fd, const Step& step, const std::string& where) {
  switch (step.kind) {
    case Step::Kind::kExpect: {
      std::string got;
      while (got.size() < step.bytes.size()) {
        if (stop_.WaitFor(fd, POLLIN, kStepTimeout) != StopFlag::Wait::kReady) {
          Problem(where + ": waited in vain for \"" + Visible(step.bytes, false) + "\", got \"" +
                  Visible(got, false) + "\"");
          return false;
        }
        char buffer[256];
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, step.bytes.size() - got.size()), 0);
        if (n <= 0) {
          Problem(where + ": the peer left while \"" + Visible(step.bytes, false) +
                  "\" was expected, got \"" + Visible(got, false) + "\"");
          return false;
        }
        got.append(buffer, static_cast<size_t>(n));
      }
      if (got != step.bytes) {
        Problem(where + ": expected \"" + Visible(step.bytes, false) + "\", got \"" +
                Visible(got, false) + "\"");
        return false;
      }
      return true;
    }
    case Step::Kind::kSend: {
      const size_t piece = step.piece == 0 ? step.bytes.size() : step.piece;
      for (size_t at = 0; at < step.bytes.size(); at += piece) {
        if (at > 0 && !stop_.SleepFor(step.delay)) return false;
        if (!testing_support::WriteAll(fd, step.bytes.data() + at,
                                       std::min(piece, step.bytes.size() - at))) {
          Problem(where + ": send failed: " + std::strerror(errno));
          return false;
        }
      }
      return true;
    }
    case Step::Kind::kPause:
      return stop_.SleepFor(step.delay);
    case Step::Kind::kClose: {
      // Our side ends first; the close waits for the peer's, so that no
      // unread request turns the end into a reset.
      ::shutdown(fd, SHUT_WR);
      char buffer[256];
      while (stop_.WaitFor(fd, POLLIN, kStepTimeout) == StopFlag::Wait::kReady) {
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
      }
      return !stop_.Raised();
    }
    case Step::Kind::kReset: {
      linger option{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
      return true;  // the caller's close sends the reset
    }
  }
  return false;
}

}  // namespace e2e
