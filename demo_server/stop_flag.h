#pragma once

#include <atomic>
#include <chrono>

#include "platform/unique_fd_posix.h"

/// A one-way switch that any number of threads can wait on together with a
/// descriptor of their own, so that a blocked accept, read or pause ends as
/// soon as the program is asked to stop. Raise() is async-signal-safe: a
/// SIGINT/SIGTERM handler may call it.
class StopFlag final {
 public:
  enum class Wait { kReady, kTimedOut, kStopped };

  /// Throws std::system_error when the pipe behind the flag can't be made.
  StopFlag();
  StopFlag(const StopFlag&) = delete;
  StopFlag& operator=(const StopFlag&) = delete;

  void Raise();
  bool Raised() const { return raised_.load(); }

  /// Waits until `fd` reports one of `events` (poll flags), the flag is
  /// raised, or `timeout` passes (negative: no limit). The flag wins when
  /// both happen at once.
  Wait WaitFor(int fd, short events, std::chrono::milliseconds timeout) const;

  /// Pauses for `duration`; returns false when the flag cut the pause short.
  bool SleepFor(std::chrono::milliseconds duration) const;

 private:
  UniqueFd read_end_;
  UniqueFd write_end_;
  std::atomic<bool> raised_{false};
};
