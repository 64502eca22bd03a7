#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <ostream>
#include <thread>

#include "demo_server/demo_connection.h"
#include "demo_server/demo_options.h"
#include "demo_server/stop_flag.h"
#include "platform/unique_fd_posix.h"

/// The demo status server: listens on 127.0.0.1 and serves every connection
/// on a thread of its own (ServeDemoConnection).
class DemoServer final {
 public:
  /// Binds 127.0.0.1:`options.port` and listens. Throws std::system_error
  /// when the socket can't be made or the port is taken. `log` may be null.
  DemoServer(const DemoOptions& options, StopFlag& stop, std::ostream* log);
  /// Raises the stop flag if connections are still served, and joins them.
  ~DemoServer();
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  /// The port actually bound (differs from the options' when that was 0).
  std::uint16_t Port() const { return port_; }

  /// Serves until the stop flag is raised, --exit-after-ms has passed (which
  /// raises the flag), or the --max-connections connections have all ended.
  /// The listening socket is closed before the wait for the last
  /// connections, so that later connects are refused. Every connection thread
  /// has been joined when Run() returns.
  void Run();

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void Start(UniqueFd socket, int number);
  void JoinFinished();
  bool AllFinished() const;

  DemoContext context_;
  UniqueFd listener_;
  std::uint16_t port_ = 0;
  std::list<std::unique_ptr<Connection>> connections_;
};
