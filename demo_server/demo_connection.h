#pragma once

#include <mutex>
#include <ostream>
#include <string>

#include "demo_server/demo_options.h"
#include "demo_server/status_record_maker.h"
#include "demo_server/stop_flag.h"
#include "platform/unique_fd_posix.h"

/// What all connections of one demo server share: the options, the stop flag,
/// the record maker (record ids count up across connections) and the log.
/// NextRecord() and Log() may be called from any thread.
class DemoContext final {
 public:
  /// `log` may be null; nothing is logged then, nor with --quiet.
  DemoContext(const DemoOptions& options, StopFlag& stop, std::ostream* log);

  const DemoOptions& options() const { return options_; }
  StopFlag& stop() const { return stop_; }

  std::string NextRecord();
  void Log(const std::string& line);

 private:
  const DemoOptions options_;
  StopFlag& stop_;
  std::mutex maker_mutex_;
  StatusRecordMaker maker_;  // guarded by maker_mutex_
  std::mutex log_mutex_;
  std::ostream* log_;  // guarded by log_mutex_
};

/// Serves one accepted connection: one record for every "GET /" line (CR LF
/// or a bare LF ends a line; other lines are ignored), misbehaving as the
/// options say. Returns when the peer leaves, a misbehaviour ends the
/// connection or the stop flag is raised; the socket is closed by then.
/// `number` counts the server's connections from 1, for the log.
void ServeDemoConnection(UniqueFd socket, int number, DemoContext& context);

/// The bytes the server sends for one record under the options: the record,
/// with noise before it (--garbage) and NUL bytes inside it (--nul).
std::string DemoAnswer(const std::string& record, const DemoOptions& options);
