#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "monitor/received_text.h"
#include "monitor/time_stamp.h"
#include "monitor/trace_codes.h"

class TApplication;
class TextOutput;
class TIdTCPClient;

/// The settings of a monitor: the status server, which the program's command
/// line may choose (the built-in one otherwise), and the limits fixed when the
/// program is built.
struct MonitorSettings {
  std::string status_server_host;
  std::int32_t status_server_port = 80;
  std::size_t received_text_limit = std::size_t{64} * 1024 * 1024;
  /// Seconds within which a dead path to the server is noticed; 0: never,
  /// the connection then waits for bytes without any bound.
  std::int32_t dead_path_timeout_s = 0;
};

/// What the monitor uses besides its client. The process passes the real
/// ones; tests pass a failing sink, a pause that returns at once, a fixed
/// clock. None of the pointers is owned.
struct MonitorServices {
  TextOutput* output = nullptr;
  std::function<void(std::int32_t milliseconds)> pause;
  std::function<TDateTime()> now;
  std::string time_separator = ":";
  TApplication* application = nullptr;

  /// The time stamp of the moment of the call.
  std::string Stamp() const { return TimeStamp(now(), time_separator); }
};

/// The monitor's state; it belongs to the main thread. The client is made by
/// RunMonitor and kept for as long as this object lives.
struct MonitorState {
  explicit MonitorState(std::size_t received_text_limit);
  ~MonitorState();
  MonitorState(const MonitorState&) = delete;
  MonitorState& operator=(const MonitorState&) = delete;

  std::unique_ptr<TIdTCPClient> StatusClient;
  std::string RequestPath;
  /// The bytes of the current connected pass, NUL bytes left out.
  ReceivedTextBuffer ReceivedText;
  /// A connection was made whose loss has not been announced yet.
  bool WasConnected = true;
  /// The last progress point passed; the pass handler prints it.
  std::int32_t TraceCode = kTraceMakingClient;
  /// The record id of the last complete record.
  std::string LastSyslogID;
};
