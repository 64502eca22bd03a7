#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "demo_server/stop_flag.h"
#include "platform/unique_fd_posix.h"
#include "tests/e2e/held_port.h"

namespace e2e {

/// One thing a scripted server does on a connection.
struct Step {
  enum class Kind { kExpect, kSend, kPause, kClose, kReset };
  Kind kind;
  std::string bytes;                  // kExpect, kSend
  size_t piece = 0;                   // kSend: write in pieces of this size (0: at once)
  std::chrono::milliseconds delay{};  // kSend: pause between pieces; kPause: its length
};

/// Reads exactly `bytes` and records a problem when something else comes.
Step Expect(std::string bytes);
/// Writes `bytes` with one write.
Step Send(std::string bytes);
/// Writes `bytes` in pieces of `piece` bytes with `delay` between them.
Step SendInPieces(std::string bytes, size_t piece, std::chrono::milliseconds delay);
Step Pause(std::chrono::milliseconds length);
/// Ends the connection in order (FIN): our side is shut, the peer's close awaited.
Step Close();
/// Drops the connection with a reset (RST).
Step Reset();

using Script = std::vector<Step>;

/// A status server on 127.0.0.1, on a port that the kernel handed out
/// (Port()), that follows one script per accepted connection, in order, on a
/// thread of its own. When the connection of the last script has been
/// accepted, the listener closes and the port stays held without a listener,
/// so later connects are refused at once; with no scripts at all, the port
/// refuses from the start. A script that doesn't end in Close or Reset keeps
/// its connection open until the server is destroyed.
class ScriptedServer final {
 public:
  /// Throws std::runtime_error when no port can be had.
  explicit ScriptedServer(std::vector<Script> scripts);
  /// Stops the scripts where they are and closes every socket.
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  std::uint16_t Port() const { return port_.Number(); }

  /// Waits until every script has run to its end; false after `timeout`.
  bool WaitUntilDone(std::chrono::milliseconds timeout);

  /// What went against the scripts (unexpected bytes, a peer that left early,
  /// a step that timed out), one text each; empty when all went to plan.
  std::vector<std::string> Problems() const;

 private:
  void Serve();
  bool RunStep(int fd, const Step& step, const std::string& where);
  void Problem(const std::string& text);

  std::vector<Script> scripts_;
  HeldPort port_;
  UniqueFd listener_;  // on port_, until the last script's connection
  StopFlag stop_;
  mutable std::mutex mutex_;
  std::vector<std::string> problems_;  // guarded by mutex_
  bool done_ = false;                  // guarded by mutex_
  std::thread thread_;
};

}  // namespace e2e
