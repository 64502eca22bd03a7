#include "tests/fault_injection/expected_outcome.h"

#include <cctype>
#include <cstddef>
#include <optional>
#include <string>

#include "monitor/run_monitor.h"
#include "monitor/trace_codes.h"

namespace {

constexpr std::size_t kStampLength = 12;  // "09:05:03.007"

bool IsStamp(std::string_view text) {
  if (text.size() < kStampLength) return false;
  for (std::size_t i = 0; i < kStampLength; ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    char mark = i == 8 ? '.' : ':';
    if ((i == 2 || i == 5 || i == 8) ? text[i] != mark : !digit) return false;
  }
  return true;
}

// The length of `line` (a time stamp, then `rest`) at the front of `text`,
// or 0.
std::size_t StampedLineAt(std::string_view text, std::string_view rest) {
  if (!IsStamp(text) || text.substr(kStampLength, rest.size()) != rest) return 0;
  return kStampLength + rest.size();
}

// A connect attempt's first line: connected, or its error line.
bool ConnectAttemptAt(std::string_view text) {
  return StampedLineAt(text, " Connected to localhost\r\n") != 0 ||
         StampedLineAt(text, "Error: ") != 0;
}

std::string Printable(std::string_view text) {
  std::string shown;
  for (char c : text.substr(0, 240)) {
    if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      shown += c;
    }
  }
  return shown;
}

// The first request after the log had `log_size` bytes.
const RequestSeen* RequestAfter(const RunResult& run, std::size_t log_size) {
  for (const RequestSeen& request : run.requests) {
    if (request.log_size > log_size) return &request;
  }
  return nullptr;
}

bool SamePauses(const RunResult& a, const RunResult& b) {
  if (a.pauses.size() != b.pauses.size()) return false;
  for (std::size_t i = 0; i < a.pauses.size(); ++i) {
    if (a.pauses[i].milliseconds != b.pauses[i].milliseconds ||
        a.pauses[i].log_size != b.pauses[i].log_size) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string_view OutcomeName(Outcome outcome) {
  constexpr std::string_view kNames[kOutcomeCount] = {"absorbed", "connect handler", "read handler",
                                                      "pass handler", "left the monitor"};
  return kNames[static_cast<std::size_t>(outcome)];
}

ExpectedError ExpectedErrorOf(const RunResult& run) {
  const FaultPoint& point = run.fault;
  switch (point.kind) {
    case CallKind::kConsoleWrite:
      return {"I/O error 28", "EInOutError"};
    case CallKind::kAllocation:
      // The connect thread hands its failure's text to the waiting thread,
      // which raises it as the connect's failure.
      return {"Out of memory", point.on_main_thread ? "EOutOfMemory" : "EIdConnectException"};
    case CallKind::kThreadStart:
      return {"Thread creation error: Resource temporarily unavailable", "EThread"};
    case CallKind::kLibraryLoad:
      return {"", "EIdWS2StubError"};
    case CallKind::kClockRead:
    case CallKind::kLocaleRead:
      return {"(no error: a failed " + std::string(CallKindName(point.kind)) + " is not raised)",
              ""};
    case CallKind::kSocket:
      break;
  }
  const std::string& call = run.first_failed_socket_call;
  if (call == "socket") return {"Cannot allocate socket.", "EIdInvalidSocket"};
  if (call == "bind") {
    return {"Could not bind socket. Address and port are already in use.", "EIdCouldNotBindSocket"};
  }
  if (call == "connect")
    return {"Socket Error # 10061\r\nConnection refused.", "EIdConnectException"};
  if (call == "select")
    return {"Socket Error # 10004\r\nInterrupted system call.", "EIdSocketError"};
  if (call == "receive" || call == "send") {
    return {"Socket Error # 10054\r\nConnection reset by peer.", "EIdSocketError"};
  }
  if (call == "setsockopt") {
    return {"Socket Error # 10042\r\nBad protocol option.", "EIdSocketError"};
  }
  return {"(no error: a failed " + call + " is not raised)", ""};
}

Judgement JudgeFirstFault(const RunResult& run, const CallFaultPlan& plan, const RunResult& clean) {
  Judgement judgement;
  auto problem = [&](const std::string& text) { judgement.problems.push_back(text); };
  const FaultPoint& point = run.fault;
  if (!point.struck) {
    problem("no fault struck");
    return judgement;
  }
  const std::string_view log = run.log;
  const std::string_view after = log.substr(std::min(point.log_size, log.size()));
  // Up to its first fault a run is the clean run.
  if (point.log_size > clean.log.size() ||
      log.substr(0, point.log_size) != clean.log.substr(0, point.log_size)) {
    problem("before its first fault the log differs from the clean run's");
    return judgement;
  }
  const std::string_view clean_after = std::string_view(clean.log).substr(point.log_size);
  const ExpectedError error = ExpectedErrorOf(run);
  const std::int32_t trace = point.trace_code;
  const bool in_startup = !point.monitor_made || trace < kTraceCycleHead;
  const std::string& call = run.first_failed_socket_call;
  const bool closing_call =
      point.kind == CallKind::kSocket && (call == "shutdown" || call == "close");
  const PauseSeen* next_pause =
      point.pauses < run.pauses.size() ? &run.pauses[point.pauses] : nullptr;
  auto expect_after = [&](std::string_view at, std::string_view what, const char* name) {
    if (at.substr(0, what.size()) != what) {
      problem(std::string(name) + ": expected \"" + Printable(what) + "\", found \"" +
              Printable(at) + "\"");
      return false;
    }
    return true;
  };

  if (run.escaped && plan.stays_failed && !plan.kind) {
    // Every call fails from the first fault on: the last error a handler
    // could not write is the one that leaves.
    judgement.outcome = Outcome::kEscaped;
    if (run.escaped_class != "EOutOfMemory" && run.escaped_class != "EInOutError") {
      problem("left the monitor as " + run.escaped_class);
    }
    if (!after.empty() && after.find("\r\n") != std::string_view::npos) {
      problem("lines written after every call failed: \"" + Printable(after) + "\"");
    }
    return judgement;
  }
  if (run.escaped) {
    judgement.outcome = Outcome::kEscaped;
    // With memory gone for good, what leaves is the main thread's own
    // failure to compose a handler's line, wherever the first fault struck.
    const ExpectedError escaping = plan.stays_failed && point.kind == CallKind::kAllocation
                                       ? ExpectedError{"Out of memory", "EOutOfMemory"}
                                       : error;
    if (run.escaped_class != escaping.class_name || run.escaped_message != escaping.message) {
      problem("left the monitor as " + run.escaped_class + " \"" + Printable(run.escaped_message) +
              "\", expected " + escaping.class_name + " \"" + Printable(escaping.message) + "\"");
    }
    // A handler's own line failing: it was about to write an error line.
    const bool in_handler =
        StampedLineAt(clean_after, "Error: ") != 0 || clean_after.substr(0, 7) == "Error: ";
    const bool failing_writes =
        point.kind == CallKind::kConsoleWrite || point.kind == CallKind::kAllocation;
    if (in_startup || trace == kTraceCycleHead) {
      // Start-up steps and the cycle head have no handler.
    } else if (!plan.stays_failed && !(trace == kTraceConnecting && in_handler)) {
      problem("a fault at trace code " + std::to_string(trace) + " left the monitor");
    } else if (plan.stays_failed && !failing_writes) {
      problem("a " + std::string(CallKindName(point.kind)) + " fault left the monitor");
    }
    // Nothing is written once the monitor can write no line. Without memory
    // the echo still goes on while the text has room for the bytes (the
    // scripted records hold no line break).
    const bool only_echo =
        point.kind == CallKind::kAllocation && after.find("\r\n") == std::string_view::npos;
    if (!after.empty() && !only_echo) {
      problem("written after the fault: \"" + Printable(after) + "\"");
    }
    return judgement;
  }
  if (plan.stays_failed && closing_call) {
    // Closing ignores failures; what the later calls' failures do is judged
    // by their own runs.
    judgement.outcome = Outcome::kAbsorbed;
    return judgement;
  }
  const std::string error_text = "Error: " + error.message + " (" + error.class_name + ")";
  if (!plan.stays_failed && run.log == clean.log && SamePauses(run, clean)) {
    judgement.outcome = Outcome::kAbsorbed;
    // The same failure as the clean run met there (the script refuses that
    // connect anyway) can't be told from it.
    const bool same_as_clean = StampedLineAt(clean_after, error_text + "\r\n") != 0;
    if (!closing_call && !same_as_clean && point.kind != CallKind::kAllocation) {
      problem("a failed " + std::string(CallKindName(point.kind)) + " call (" + call +
              ") changed nothing");
    }
    return judgement;
  }
  if (in_startup || trace == kTraceCycleHead) {
    problem("a fault at trace code " + std::to_string(trace) + " was taken by a handler");
    return judgement;
  }

  if (trace == kTraceConnecting) {
    judgement.outcome = Outcome::kConnectHandler;
    const std::size_t line = StampedLineAt(after, error_text + "\r\n");
    if (line == 0) {
      expect_after(after, "<stamp>" + error_text + "\r\n", "connect error line");
      return judgement;
    }
    if (next_pause == nullptr || next_pause->milliseconds != kPauseAfterFailedConnectMs ||
        next_pause->log_size != point.log_size + line) {
      problem("no " + std::to_string(kPauseAfterFailedConnectMs) +
              " ms pause right after the connect error line");
      return judgement;
    }
    // The connection is open after the pause only when the connect itself
    // succeeded (its connected line failed): the next pass then starts.
    const bool still_connected = StampedLineAt(after.substr(line), " GET /\r\n") != 0;
    if (next_pause->open_sockets != (still_connected ? 1 : 0)) {
      problem(std::to_string(next_pause->open_sockets) + " sockets open during the pause");
    }
    if (!still_connected && !ConnectAttemptAt(after.substr(line)) && line != after.size()) {
      problem("after the pause: \"" + Printable(after.substr(line)) + "\"");
    }
    return judgement;
  }

  if (trace == kTraceReading && next_pause != nullptr &&
      next_pause->milliseconds == kPauseAfterFailedReadMs &&
      next_pause->log_size - point.log_size <= 1) {
    judgement.outcome = Outcome::kReadHandler;
    // An echoed byte may precede it: the append of that byte failed.
    const std::size_t echoed = next_pause->log_size - point.log_size;
    if (next_pause->open_sockets != 0) problem("the read handler paused with the socket open");
    std::string_view rest = after.substr(echoed);
    const std::size_t line = StampedLineAt(rest, error_text + "\r\n");
    if (line == 0) {
      expect_after(rest, "<stamp>" + error_text + "\r\n", "read error line");
      return judgement;
    }
    rest = rest.substr(line);
    if (point.was_connected) {
      const std::size_t notice = StampedLineAt(rest, " Disconnected\r\n");
      if (notice == 0) {
        expect_after(rest, "<stamp> Disconnected\r\n", "disconnect notice");
        return judgement;
      }
      rest = rest.substr(notice);
    }
    if (!rest.empty() && !ConnectAttemptAt(rest)) {
      problem("after the read error: \"" + Printable(rest) + "\"");
    }
    const RequestSeen* next = RequestAfter(run, point.log_size);
    if (next != nullptr && !next->received_text.empty()) {
      problem("the text was not emptied after the read error: \"" + Printable(next->received_text) +
              "\"");
    }
    return judgement;
  }

  if (trace >= kTraceRequesting && trace <= kTraceWritingReport) {
    judgement.outcome = Outcome::kPassHandler;
    const std::string line = error_text + " LogRec.Trace=" + std::to_string(trace) + "\r\n";
    if (!expect_after(after, line, "pass error line")) return judgement;
    const std::string_view rest = after.substr(line.size());
    // Closed: the next cycle connects again, at once.
    if (!ConnectAttemptAt(rest)) {
      problem("after the pass error: \"" + Printable(rest) + "\"");
    }
    if (next_pause != nullptr && next_pause->log_size <= point.log_size + line.size()) {
      problem("a pause followed the pass error line");
    }
    // The text is kept: the next pass starts with it.
    const RequestSeen* next = RequestAfter(run, point.log_size);
    if (next != nullptr && next->received_text != point.received_text) {
      problem("the next pass started with \"" + Printable(next->received_text) +
              "\" instead of the kept \"" + Printable(point.received_text) + "\"");
    }
    return judgement;
  }
  problem("no handler's outcome: fault at trace code " + std::to_string(trace) + ", then \"" +
          Printable(after) + "\"");
  return judgement;
}
