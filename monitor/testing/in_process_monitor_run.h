#pragma once

// Test support: what a run of the monitor loop in process needs around it.
// The scripted peer serves as the socket stack; the connect thread is polled
// without sleeping; the log goes to a sink of the caller's; the clock stands
// at 2024-03-05 09:05:03.007 and moves on only by the pauses, which take no
// time. What a pause means for the run (recording it, ending the run) is the
// caller's.

#include <cstdint>
#include <functional>
#include <thread>

#include "monitor/application.h"
#include "monitor/monitor_state.h"
#include "monitor/text_output.h"
#include "transport/anti_freeze.h"
#include "transport/process_stack.h"
#include "transport/testing/scripted_peer_stack.h"

class ConsoleSink;

/// Raised by a pause handler to end the run. Not derived from Exception, so
/// it passes every handler of the monitor.
struct EndOfRun {};

// With an idle time-out of 0 the timed connect polls its thread without
// sleeping between polls, instead of sleeping 125 ms first, and gives the
// processor to the connect thread between polls: a run then costs memory
// speed only. Waiting for bytes is unaffected, since the scripted peer is
// always readable.
class NoSleepAntiFreeze final : public TIdAntiFreezeBase {
 public:
  NoSleepAntiFreeze() : TIdAntiFreezeBase(nullptr) { IdleTimeOut = 0; }
  void ProcessEvents() override { std::this_thread::yield(); }
};

class InProcessMonitorRun {
 public:
  /// Called with each pause the monitor asks for, once the clock has moved on
  /// by it; throws EndOfRun to end the run.
  using PauseHandler = std::function<void(std::int32_t milliseconds)>;

  /// Installs the scripted peer, playing `script`, as the stack class (no
  /// other transport component may be alive) and makes the services over a
  /// text output to `sink`.
  InProcessMonitorRun(PeerScript script, ConsoleSink& sink, PauseHandler on_pause);
  InProcessMonitorRun(const InProcessMonitorRun&) = delete;
  InProcessMonitorRun& operator=(const InProcessMonitorRun&) = delete;

  const MonitorServices& Services() const { return services_; }
  TextOutput& Output() { return output_; }

  /// The settings of a run: the status server "localhost" (resolved without
  /// a lookup), the rest as a monitor's defaults.
  MonitorSettings settings;

 private:
  ScopedStackClass stack_class_;
  NoSleepAntiFreeze anti_freeze_;
  TApplication application_;
  TextOutput output_;
  PauseHandler on_pause_;
  double elapsed_days_ = 0;
  MonitorServices services_;
};
