#pragma once

// Runs two monitor loops over the same scripted peer and compares everything
// the outside sees: each block written to the log (so the write pattern, a
// console's statement by statement, a file's 128-byte blocks or the
// journal's lines), the block whose write failed, how many request bytes
// had been sent and how many receives served before each write, the calls
// made of the socket stack, the pauses, and an error that left the monitor.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "monitor/testing/monitor_over_stream.h"
#include "platform/console.h"

/// Where a run's log goes.
enum class LogKind {
  kFile,      // plain, written out in blocks
  kConsole,   // plain, a character device: written out after each statement
  kTerminal,  // a character device whose reader acts on control bytes
  kJournal,   // the journal's stream: lines with their levels
};

inline constexpr LogKind kEveryLogKind[] = {LogKind::kFile, LogKind::kConsole, LogKind::kTerminal,
                                            LogKind::kJournal};

const char* LogKindName(LogKind kind);

/// One run's setting.
struct ComparisonCase {
  PeerScript script;
  MonitorSettings settings = InProcessSettings(4096);
  LogKind log = LogKind::kFile;
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
  /// The socket stack's calls served by the peer, in order, space-separated.
  std::string calls;
  StreamRunResult result;
  std::size_t receives = 0;
};

LoopRecord RecordRun(const ComparisonCase& run, MonitorLoop loop);

/// Empty when the two records are the same; otherwise what differs first.
std::string FirstDifference(const LoopRecord& expected, const LoopRecord& actual);
