#pragma once

#include <atomic>
#include <string>
#include <thread>

class TIdSocketHandle;

/// Runs one platform connect of a socket handle in a thread of its own, so
/// that the caller can give up after a time-out. The thread writes
/// FailureText and the handle's refreshed addresses before it marks itself
/// finished; read them only after Finished() returned true.
class TIdConnectThread {
 public:
  /// Created suspended: nothing runs until Start().
  explicit TIdConnectThread(TIdSocketHandle* target) : Target(target) {}
  /// Waits for the thread's end if it was started.
  ~TIdConnectThread();
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  /// Raises EThread "Thread creation error: %s" when no thread can be made.
  void Start();
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  void WaitFor();
  /// The message of the error that ended the connect; empty if none.
  const std::string& FailureText() const { return failure_text_; }

  TIdSocketHandle* const Target;  // not owned

 private:
  void Execute();

  std::string failure_text_;
  std::atomic<bool> finished_{false};
  std::thread thread_;
};
