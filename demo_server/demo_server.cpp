#include "demo_server/demo_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

[[noreturn]] void ThrowSystemError(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

DemoServer::DemoServer(const DemoOptions& options, StopFlag& stop, std::ostream* log)
    : context_(options, stop, log) {
  listener_.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener_.Valid()) ThrowSystemError("socket");
  // A restarted demo must not wait for the last run's connections to age out.
  int on = 1;
  ::setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);

  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(options.port);
  if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ThrowSystemError(("bind 127.0.0.1:" + std::to_string(options.port)).c_str());
  }
  if (::listen(listener_.Get(), 16) != 0) ThrowSystemError("listen");
  socklen_t size = sizeof address;
  if (::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ThrowSystemError("getsockname");
  }
  port_ = ntohs(address.sin_port);
}

DemoServer::~DemoServer() {
  if (!AllFinished()) context_.stop().Raise();
  for (auto& connection : connections_) connection->thread.join();
}

void DemoServer::Run() {
  const DemoOptions& options = context_.options();
  StopFlag& stop = context_.stop();
  const bool timed = options.exit_after_ms > 0;
  const auto deadline = Clock::now() + milliseconds(options.exit_after_ms);
  auto time_left = [&] {
    return timed ? std::chrono::ceil<milliseconds>(deadline - Clock::now()) : milliseconds(-1);
  };

  int accepted = 0;
  while (options.max_connections == 0 || accepted < options.max_connections) {
    auto left = time_left();
    if (timed && left.count() <= 0) break;
    auto wait = stop.WaitFor(listener_.Get(), POLLIN, left);
    if (wait != StopFlag::Wait::kReady) break;
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    UniqueFd socket(
        ::accept4(listener_.Get(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC));
    if (!socket.Valid()) {
      // Out of descriptors and the like: don't spin, try again shortly.
      if (errno != EINTR && errno != ECONNABORTED) stop.SleepFor(milliseconds(100));
      continue;
    }
    ++accepted;
    context_.Log("connection " + std::to_string(accepted) + " from port " +
                 std::to_string(ntohs(peer.sin_port)));
    JoinFinished();
    Start(std::move(socket), accepted);
  }
  listener_.Reset();

  while (!stop.Raised() && !AllFinished()) {
    if (timed && time_left().count() <= 0) break;
    stop.SleepFor(milliseconds(50));
  }
  if (timed && time_left().count() <= 0) {
    context_.Log("time is up");
    stop.Raise();
  }
  for (auto& connection : connections_) connection->thread.join();
  connections_.clear();
}

void DemoServer::Start(UniqueFd socket, int number) {
  auto connection = std::make_unique<Connection>();
  Connection* raw = connection.get();
  // Should the thread not start, the lambda dies with the socket in it.
  raw->thread = std::thread([this, raw, number, socket = std::move(socket)]() mutable {
    try {
      ServeDemoConnection(std::move(socket), number, context_);
    } catch (const std::exception& error) {
      context_.Log("connection " + std::to_string(number) + ": " + error.what());
    }
    raw->done = true;
  });
  connections_.push_back(std::move(connection));
}

void DemoServer::JoinFinished() {
  connections_.remove_if([](const std::unique_ptr<Connection>& connection) {
    if (!connection->done) return false;
    connection->thread.join();
    return true;
  });
}

bool DemoServer::AllFinished() const {
  for (const auto& connection : connections_) {
    if (!connection->done) return false;
  }
  return true;
}
