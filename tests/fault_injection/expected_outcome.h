#pragma once

// Test support: what the monitor must have done with a run's first injected
// fault, judged from where the fault struck (the trace code, the thread, the
// text held) against the monitor's failure handling:
// - a failure of its start-up steps or of the cycle head's connected test
//   leaves the monitor;
// - the connect handler writes the stamped error line, then pauses 2000 ms;
// - the read handler closes the connection, pauses 1000 ms, then writes the
//   stamped error line; the pass ends with the disconnect notice (if the
//   connection was not announced yet) and an emptied text;
// - the pass handler writes the error line with the trace code, closes the
//   connection without a pause and keeps the text for the next pass;
// - a handler whose own statement fails lets the failure leave the monitor
//   (the read handler's goes to the pass handler first);
// - a fault that the monitor or the transport may absorb (closing a socket,
//   growing memory ahead of need) changes no byte of the log.
// Each line is compared byte for byte: message, class name, trace code.

#include <string>
#include <string_view>
#include <vector>

#include "tests/fault_injection/call_faults.h"
#include "tests/fault_injection/scripted_monitor_run.h"

enum class Outcome {
  kAbsorbed,
  kConnectHandler,
  kReadHandler,
  kPassHandler,
  kEscaped,
};
inline constexpr std::size_t kOutcomeCount = 5;

std::string_view OutcomeName(Outcome outcome);

/// The error a fault of the run's first kind and call raises.
struct ExpectedError {
  std::string message;
  std::string class_name;
};
ExpectedError ExpectedErrorOf(const RunResult& run);

struct Judgement {
  Outcome outcome = Outcome::kAbsorbed;
  std::vector<std::string> problems;  // empty: as expected
};

/// Judges `run` (made with `plan`) against the clean run of the same script.
Judgement JudgeFirstFault(const RunResult& run, const CallFaultPlan& plan, const RunResult& clean);
