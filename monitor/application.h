#pragma once

#include "runtime/component.h"

/// The process's application object. In this console process it owns no
/// window; the monitor uses it only to handle the messages pending for the
/// main thread. Not thread-safe: created and used by the main thread.
class TApplication : public TComponent {
 public:
  /// Gives the creating thread its message queue, so that messages posted to
  /// it before the first pump are kept.
  explicit TApplication(TComponent* owner = nullptr);

  /// Handles every message pending in the calling thread's queue, those that
  /// arrive meanwhile included, and returns as soon as the queue is empty;
  /// never waits. A quit message has no effect: it ends neither this call nor
  /// the monitor. With no window to deliver to, no other message has one either.
  void PumpMessages();

  /// False only when PumpMessages would now find the queue empty and do
  /// nothing. Cheap: no lock.
  bool MessagesPending() const;
};

/// The application object of the process, made and destroyed by the start-up
/// and shutdown steps of the windowing layer; null outside them.
extern TApplication* Application;
