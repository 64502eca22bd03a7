#include "monitor/testing/monitor_over_stream.h"

#include <utility>

#include "monitor/run_monitor.h"
#include "monitor/testing/byte_by_byte_monitor.h"
#include "monitor/testing/in_process_monitor_run.h"
#include "monitor/testing/reference_log.h"
#include "runtime/exception.h"

namespace {

// The longest the monitor may pause in one run; more means a loop that does
// not reach its end (every failure is followed by at most one pause).
constexpr std::size_t kMostPauses = 16;

}  // namespace

PeerScript StreamScript(std::string_view stream, PeerChunking chunking, int end_code,
                        int connections) {
  PeerScript script;
  for (int i = 0; i < connections; ++i) {
    PeerConnection connection;
    connection.stream = stream;
    connection.resumes = i > 0;
    connection.chunking = chunking;
    connection.end_code = end_code;
    script.connections.push_back(std::move(connection));
  }
  return script;
}

MonitorSettings InProcessSettings(std::size_t received_text_limit) {
  MonitorSettings settings;
  settings.status_server_host = "localhost";
  settings.received_text_limit = received_text_limit;
  return settings;
}

StreamRunResult RunMonitorOverStream(const PeerScript& script, const MonitorSettings& settings,
                                     ConsoleSink& sink, MonitorLoop loop) {
  StreamRunResult result;
  InProcessMonitorRun run(script, sink, [&result](std::int32_t milliseconds) {
    result.pauses.push_back(milliseconds);
    if (milliseconds == kPauseAfterFailedConnectMs || result.pauses.size() >= kMostPauses) {
      throw EndOfRun{};
    }
  });
  run.settings = settings;
  // The reference writes through a log of its own over the same sink; the
  // run's text output then stays unused and never opens the sink.
  ReferenceLog reference_log(sink);
  {
    MonitorState state(settings.received_text_limit);
    try {
      if (loop == MonitorLoop::kByteByByte) {
        RunByteByByteMonitor(run.settings, run.Services(), state, reference_log);
      } else {
        RunMonitor(run.settings, run.Services(), state);
      }
    } catch (const EndOfRun&) {
    } catch (const Exception& error) {
      // A handler's own line failed: the error leaves the monitor.
      result.escaped = std::string(error.ClassName()) + ": " + error.Message();
    }
  }  // the client goes before the log is written out
  try {
    if (loop == MonitorLoop::kByteByByte) {
      reference_log.Flush();
    } else {
      run.Output().Flush();
    }
  } catch (const Exception& error) {
    if (result.escaped.empty())
      result.escaped = std::string(error.ClassName()) + ": " + error.Message();
  }
  result.bytes_sent = ScriptedPeerStack::BytesSent();
  return result;
}

StreamRunResult RunMonitorOverStream(const PeerScript& script, std::size_t received_text_limit,
                                     ConsoleSink& sink, MonitorLoop loop) {
  return RunMonitorOverStream(script, InProcessSettings(received_text_limit), sink, loop);
}
