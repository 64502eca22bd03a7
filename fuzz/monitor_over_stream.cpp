#include "fuzz/monitor_over_stream.h"

#include <thread>

#include "monitor/application.h"
#include "monitor/monitor_state.h"
#include "monitor/run_monitor.h"
#include "monitor/text_output.h"
#include "runtime/exception.h"
#include "transport/anti_freeze.h"
#include "transport/process_stack.h"

namespace {

// Not derived from Exception, so it passes every handler of the monitor.
struct EndOfRun {};

// The longest the monitor may pause in one run; more means a loop that does
// not reach its end (every failure is followed by at most one pause).
constexpr std::size_t kMostPauses = 16;

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

}  // namespace

StreamRunResult RunMonitorOverStream(const StreamScript& script, std::size_t received_text_limit,
                                     ConsoleSink& sink, MonitorLoop loop) {
  if (loop == nullptr) loop = static_cast<MonitorLoop>(&RunMonitor);
  ScopedStackClass stack_class(&StackClassOf<ScriptedStreamStack>);
  ScriptedStreamStack::SetScript(script);
  NoSleepAntiFreeze anti_freeze;
  TApplication application;
  TextOutput output(sink);
  StreamRunResult result;
  double elapsed_days = 0;

  MonitorServices services;
  services.output = &output;
  services.application = &application;
  services.now = [&elapsed_days] {
    return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7}) + elapsed_days;
  };
  services.pause = [&](std::int32_t milliseconds) {
    result.pauses.push_back(milliseconds);
    elapsed_days += milliseconds / 86400000.0;
    if (milliseconds == 2000 || result.pauses.size() >= kMostPauses) throw EndOfRun{};
  };
  MonitorSettings settings;
  settings.status_server_host = "localhost";
  settings.received_text_limit = received_text_limit;
  {
    MonitorState state(received_text_limit);
    try {
      loop(settings, services, state);
    } catch (const EndOfRun&) {
    } catch (const Exception& error) {
      // A handler's own line failed: the error leaves the monitor.
      result.escaped = std::string(error.ClassName()) + ": " + error.Message();
    }
  }  // the client goes before the log is written out
  try {
    output.Flush();
  } catch (const Exception& error) {
    if (result.escaped.empty())
      result.escaped = std::string(error.ClassName()) + ": " + error.Message();
  }
  result.bytes_sent = ScriptedStreamStack::BytesSent();
  return result;
}
