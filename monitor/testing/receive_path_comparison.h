#pragma once

// Runs two monitor loops over the same scripted peer and compares everything
// the outside sees: each block written to the log (so the write pattern, a
// console's statement by statement or a file's 128-byte blocks), the block
// whose write failed, how many request bytes had been sent and how many
// receives served before each write, the pauses, and an error that left the
// monitor.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/testing/monitor_over_stream.h"

/// One run's setting.
struct ComparisonCase {
  PeerScript script;
  std::size_t received_text_limit = 4096;
  /// The log goes to a character device (written out after every
  /// statement) rather than a file.
  bool console = false;
  /// The write call (counted from 1) that fails with I/O error 101; 0: none.
  std::size_t failing_write = 0;
};

/// What the outside saw of one run.
struct LoopRecord {
  struct Write {
    std::string block;
    bool failed = false;
    std::size_t bytes_sent = 0;  // request bytes the peer had received by then
    std::size_t receives = 0;    // receives it had served by then
    bool operator==(const Write&) const = default;
  };
  std::vector<Write> writes;
  StreamRunResult result;
  std::size_t receives = 0;
};

LoopRecord RecordRun(const ComparisonCase& run, MonitorLoop loop);

/// Empty when the two records are the same; otherwise what differs first.
std::string FirstDifference(const LoopRecord& expected, const LoopRecord& actual);
