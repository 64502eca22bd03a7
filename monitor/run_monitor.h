#pragma once

#include <cstdint>

#include "monitor/monitor_state.h"

/// The monitor's waits: the most a connect attempt may take, and the pauses
/// after a failed read and after a failed connect.
inline constexpr std::int32_t kConnectTimeoutMs = 50000;
inline constexpr std::int32_t kPauseAfterFailedReadMs = 1000;
inline constexpr std::int32_t kPauseAfterFailedConnectMs = 2000;

/// The monitor: writes the banner, makes the client for the status server and
/// then connects, requests, echoes and reports, forever. Every error derived
/// from Exception is taken by one of its handlers, logged, and followed by a
/// pause or a reconnect; it returns only by an error that no handler takes (a
/// failure of a start-up step, of the connected test at the head of a cycle,
/// or of a handler itself) or by a raised object not derived from Exception.
///
/// This form runs with the real console, clock and pauses: the program's
/// main() (program/main.cpp) calls it once, on the main thread, after the
/// start-up steps, with the settings its command line chose. It keeps its
/// client until the process ends.
void RunMonitor(const MonitorSettings& settings);

/// The same over the given services and state; `state` keeps the client and
/// the rest when the monitor leaves by an error, for a test to look at.
void RunMonitor(const MonitorSettings& settings, const MonitorServices& services,
                MonitorState& state);
