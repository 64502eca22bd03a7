#pragma once

#include "monitor/monitor_state.h"

/// Reports the complete record in `state.ReceivedText`: an empty line, the
/// time stamp, then the labelled field values (EVENT, DATETIME and VERSION
/// always, the others only when not empty). Stores the record id in
/// `state.LastSyslogID` first and sets `state.TraceCode` to 250, then 260.
/// Leaves the received text as it is. A failed write raises EInOutError: the
/// lines written so far stay, the rest of the report is not written.
/// REQUIRES: `state.ReceivedText` holds the record terminator.
void ReportStatusRecord(MonitorState& state, const MonitorServices& services);
