#pragma once

// Test support: one run of the real monitor loop, in process, over the
// scripted peer (start-up, connect, request, record A over several receives,
// its report, the repeated request, the peer's close, the disconnect notice,
// a refused reconnect, record B, record C, a last refused connect whose
// 2000 ms pause ends the run), with a fault plan. Pauses go through the
// monitor's pause seam and take no time; the clock is fixed and moves only
// with the pauses. The run notes where the monitor stood when the plan's
// first fault struck, every pause and every request, so that the outcome can
// be judged against what the monitor's handlers promise.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/fault_injection/call_faults.h"

/// The log's record ids, in the order the script sends them.
inline constexpr const char* kScriptedRecordIds[] = {"A1", "B2", "C3"};

/// Where the monitor stood when the run's first fault struck.
struct FaultPoint {
  bool struck = false;
  CallKind kind = CallKind::kSocket;
  bool on_main_thread = true;
  bool monitor_made = false;  // its state exists
  std::int32_t trace_code = 0;
  bool was_connected = false;
  std::string received_text;
  std::size_t log_size = 0;  // bytes of the log before the fault
  std::size_t pauses = 0;    // pauses before the fault
};

/// A pause of the monitor and what was true when it began.
struct PauseSeen {
  std::int32_t milliseconds = 0;
  std::size_t log_size = 0;
  int open_sockets = 0;
};

/// A request that reached the server: the log before it and the text the
/// monitor held (the text its pass starts with).
struct RequestSeen {
  std::size_t log_size = 0;
  std::string received_text;
};

struct RunResult {
  std::string log;  // what the console accepted
  std::vector<PauseSeen> pauses;
  std::vector<RequestSeen> requests;
  FaultPoint fault;
  bool reached_end = false;  // the script was used up and the last connect refused
  bool pause_limit = false;  // it kept retrying a call that stays failed
  bool escaped = false;      // an error left the monitor
  std::string escaped_class;
  std::string escaped_message;
  bool hung = false;  // it went on without end and without a pause
  std::string first_failed_socket_call;
  CallCounts counts;
  int live_components_after = 0;
  int open_sockets_after = 0;
  int most_open_sockets = 0;
};

/// How an error that leaves the monitor is treated.
enum class Escapes {
  kRecorded,         // noted in the result; the run returns
  kTopLevelHandler,  // taken as the program's main takes it: the report and
                     // the end of the process (for a child process)
};

/// One run over the script with `plan` (none: clean). The sockets library is
/// loaded and started once in a process, by its first run; that run makes the
/// one library-load call.
RunResult RunScripted(const std::optional<CallFaultPlan>& plan,
                      Escapes escapes = Escapes::kRecorded);

/// The threads this process has now.
int ThreadsOfThisProcess();

/// The thread count once a run's threads are gone: waits up to 2 s for it to
/// come down to `expected` (a joined thread can stay listed for a moment).
int ThreadsOnceSettled(int expected);
