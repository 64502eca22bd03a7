#pragma once

// The monitor loop as plainly as it can be written: every byte goes through
// ReadNextByte, its own echo statement, the append to the text, the event
// pump, the record test and the connected test. The product's loop takes
// shortcuts over bytes the client already holds; tests run both over the
// same peer and require the same log, write by write, the same requests and
// the same pauses.
//
// Only the client, the clock, the pause and the event pump are the
// product's; the log (ReferenceLog), the levels, the collected text with its
// record test and limit, the report with its field search and the time stamp
// are written here again, simply, so that a fault in the product's versions
// shows as a difference.

#include "monitor/monitor_state.h"

class ReferenceLog;

/// Runs the byte-by-byte monitor with `settings` over `services` (all but
/// its output, which `log` stands in for), keeping its client and the rest
/// in `state` (all but the received text, which it keeps itself), like
/// RunMonitor with the same arguments.
void RunByteByByteMonitor(const MonitorSettings& settings, const MonitorServices& services,
                          MonitorState& state, ReferenceLog& log);
