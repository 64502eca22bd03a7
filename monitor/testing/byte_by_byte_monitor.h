#pragma once

// The monitor loop as plainly as it can be written: every byte goes through
// ReadNextByte, its own echo statement, Append, the event pump, the record
// test and the connected test. The product's loop takes shortcuts over bytes
// the client already holds; tests run both over the same peer and require
// the same log, write by write, the same requests and the same pauses.

#include "monitor/monitor_state.h"

/// Runs the byte-by-byte monitor with `settings` over `services`, keeping
/// its client and text in `state`, like RunMonitor with the same arguments.
void RunByteByByteMonitor(const MonitorSettings& settings, const MonitorServices& services,
                          MonitorState& state);
