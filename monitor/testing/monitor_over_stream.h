#pragma once

// Runs a monitor loop in process against the scripted peer: connect,
// request, echo, report, and the end of the connection, with a fixed clock
// and pauses that return at once.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/monitor_state.h"
#include "transport/testing/scripted_peer_stack.h"

class ConsoleSink;

/// Which monitor loop runs: the product's (RunMonitor, its log through
/// TextOutput) or the tests' reference (RunByteByByteMonitor, its log through
/// ReferenceLog).
enum class MonitorLoop { kRunMonitor, kByteByByte };

struct StreamRunResult {
  /// The pauses the monitor asked for, in order.
  std::vector<std::int32_t> pauses;
  /// Bytes the client sent (its requests).
  std::size_t bytes_sent = 0;
  /// The error that left the monitor, or the final write-out, as
  /// "ClassName: message"; empty when the run ended as planned.
  std::string escaped;
};

/// The script of one stream: `connections` accepted connects, the first
/// sending `stream` in `chunking` and each later one taking up what the one
/// before left unsent, every one ending with `end_code` (0: an orderly
/// close); later connects are refused.
PeerScript StreamScript(std::string_view stream, PeerChunking chunking = nullptr, int end_code = 0,
                        int connections = 1);

/// The settings of a run in process: the status server "localhost"
/// (resolved without a lookup), the most bytes collected while waiting for a
/// terminator `received_text_limit`, the rest as a monitor's defaults.
MonitorSettings InProcessSettings(std::size_t received_text_limit);

/// Runs the monitor with `settings` over `script` and writes its log to
/// `sink`. The run ends at the first pause after a failed connect, so the
/// script must leave a connect to fail; until then the monitor reads
/// every stream, reports every record in it and announces the end of each
/// connection. The clock stands at 09:05:03.007 and moves on only by the
/// pauses. Installs the scripted stack as the stack class; no other
/// transport component may be alive.
StreamRunResult RunMonitorOverStream(const PeerScript& script, const MonitorSettings& settings,
                                     ConsoleSink& sink,
                                     MonitorLoop loop = MonitorLoop::kRunMonitor);

/// The same with InProcessSettings(received_text_limit).
StreamRunResult RunMonitorOverStream(const PeerScript& script, std::size_t received_text_limit,
                                     ConsoleSink& sink,
                                     MonitorLoop loop = MonitorLoop::kRunMonitor);
