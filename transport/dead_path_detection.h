#pragma once

// Dead-path detection on a connected socket: TCP keep-alive for a connection
// that waits for bytes, and a bound on unacknowledged data for one that has
// sent them. Without it a connection whose path died (the peer's host gone,
// a firewall or address translator that forgot the connection) waits for ever
// and cannot be told from a quiet, healthy peer.

#include <cstdint>

class TIdSocketHandle;

/// The keep-alive timing and user time-out that bound an unnoticed dead path
/// to about `timeout_s` seconds: half of it idle, then up to six probes
/// spread over the rest; and `timeout_s` for unacknowledged data.
struct DeadPathTimings {
  std::int32_t idle_s;
  std::int32_t interval_s;
  std::int32_t probe_count;
  std::int32_t user_timeout_s;
};

/// REQUIRES: timeout_s > 0. The probes end at most one second after
/// `timeout_s` (at `timeout_s` from 2 seconds on).
DeadPathTimings DeadPathTimingsFor(std::int32_t timeout_s);

/// Turns keep-alive on for the handle's socket with the timings for
/// `timeout_s` and sets its user time-out. An option that the sockets library
/// refuses is left out and the rest still set: a system without it connects
/// as before, only without that part of the detection. Raises nothing.
void EnableDeadPathDetection(TIdSocketHandle& socket, std::int32_t timeout_s);
