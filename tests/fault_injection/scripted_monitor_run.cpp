#include "tests/fault_injection/scripted_monitor_run.h"

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "monitor/monitor_state.h"
#include "monitor/run_monitor.h"
#include "monitor/testing/in_process_monitor_run.h"
#include "platform/code_address.h"
#include "platform/console.h"
#include "program/process_end.h"
#include "runtime/runtime_errors.h"
#include "runtime/testing/failing_allocation.h"
#include "transport/socket_stack.h"
#include "transport/sockets_binding.h"
#include "transport/sockets_library_stack.h"
#include "transport/testing/scripted_peer_stack.h"

namespace {

// More pauses than the scripted run needs even with a fault in it: a run that
// gets here retries a call that stays failed (which the monitor must do
// forever) or loops.
constexpr std::size_t kMostPauses = 24;

// More socket calls than the scripted run makes in any fault: a run that gets
// there loops without end, and without a pause.
constexpr std::size_t kMostSocketCalls = 20000;

// A record with the fields the report prints, the optional ones among them.
std::string Record(const std::string& id) {
  return "<StatusChange><LogRec.SyslogID>" + id + "</LogRec.SyslogID><Event>up</Event>" +
         "<DateTime>2024-03-05 09:05:03</DateTime><Version>2</Version><Host>h-" + id +
         "</Host></StatusChange>";
}

const std::string kRecordA = Record(kScriptedRecordIds[0]);
const std::string kRecordB = Record(kScriptedRecordIds[1]);
const std::string kRecordC = Record(kScriptedRecordIds[2]);

PeerConnection Accepted(const std::string& stream, std::size_t chunk) {
  PeerConnection connection;
  connection.stream = stream;
  connection.chunking = ChunksOf(chunk);
  return connection;
}

PeerConnection Refused() {
  PeerConnection connection;
  connection.accepted = false;
  return connection;
}

std::vector<PeerConnection> Connections() {
  return {
      Accepted(kRecordA, 7),   // a record over several receives, then the close
      Refused(),               // a refused reconnect
      Accepted(kRecordB, 16),  // the second record
      Accepted(kRecordC, 64),  // and one more, so a fault late in the run still has one after it
  };
}

// The console: a character device (every statement is written out) whose
// writes the plan may fail, as a full disk under the log fails them (ENOSPC,
// "I/O error 28"). What it keeps for the test is the harness's memory.
class PlannedConsole final : public ConsoleSink {
 public:
  int Open() override { return 0; }
  bool IsCharacterDevice() const override { return true; }
  int Write(const char* data, std::size_t size) override {
    if (CallFaults::Fails(CallKind::kConsoleWrite)) return 28;
    CallFaults::HarnessScope harness;
    written_.append(data, size);
    return 0;
  }
  const std::string& Written() const { return written_; }

 private:
  std::string written_;
};

}  // namespace

int ThreadsOfThisProcess() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

int ThreadsOnceSettled(int expected) {
  // The join returns when the thread has let go of its stack, a little before
  // the system forgets it. A thread that was never joined is still there
  // after the wait.
  int count = ThreadsOfThisProcess();
  for (int waited_ms = 0; count > expected && waited_ms < 2000; waited_ms += 5) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    count = ThreadsOfThisProcess();
  }
  return count;
}

RunResult RunScripted(const std::optional<CallFaultPlan>& plan, Escapes escapes) {
  RunResult result;
  PlannedConsole sink;
  // Made inside, as the program's RunMonitor makes it: its allocation is one
  // of the run's.
  std::unique_ptr<MonitorState> state;

  PeerScript script;
  script.connections = Connections();
  // The peer's work is the harness's; the calls themselves are the monitor's.
  script.call_gate = [](const char*) { return CallFaults::Fails(CallKind::kSocket); };
  script.send_observer = [&] {
    CallFaults::HarnessScope harness;
    result.requests.push_back({sink.Written().size(), std::string(state->ReceivedText.Text())});
  };
  script.most_calls = kMostSocketCalls;
  InProcessMonitorRun run(std::move(script), sink, [&](std::int32_t milliseconds) {
    CallFaults::HarnessScope harness;
    result.pauses.push_back(
        {milliseconds, sink.Written().size(), ScriptedPeerStack::OpenSockets()});
    if (milliseconds == kPauseAfterFailedConnectMs && ScriptedPeerStack::ScriptDone()) {
      result.reached_end = true;
      throw EndOfRun{};
    }
    if (result.pauses.size() >= kMostPauses) {
      result.pause_limit = true;
      throw EndOfRun{};
    }
  });
  const bool loads_library = !SocketsStarted();
  const std::string library = sockets_binding::SocketsLibraryFileName();

  const std::thread::id main_thread = std::this_thread::get_id();
  // A fault of the connect thread is noted while the main thread waits for
  // that thread, writing nothing of what is read here.
  auto note_fault = [&](CallKind kind) {
    FaultPoint& point = result.fault;
    point.struck = true;
    point.kind = kind;
    point.on_main_thread = std::this_thread::get_id() == main_thread;
    point.monitor_made = state != nullptr;
    if (state != nullptr) {
      point.trace_code = state->TraceCode;
      point.was_connected = state->WasConnected;
      point.received_text = std::string(state->ReceivedText.Text());
    }
    point.log_size = sink.Written().size();
    point.pauses = result.pauses.size();
  };

  std::new_handler previous_handler = std::set_new_handler(RaiseOutOfMemory);
  SetAllocationGate([] { return CallFaults::Fails(CallKind::kAllocation); });
  CallFaults::Start(plan, note_fault);
  if (loads_library && CallFaults::Fails(CallKind::kLibraryLoad)) {
    sockets_binding::SetSocketsLibraryFileName("/nonexistent/" + library);
  }
  try {
    state = std::make_unique<MonitorState>(run.settings.received_text_limit);
    RunMonitor(run.settings, run.Services(), *state);
  } catch (const EndOfRun&) {
  } catch (const PeerCallLimitReached&) {
    result.hung = true;
  } catch (...) {
    if (escapes == Escapes::kTopLevelHandler) HandleCurrentFailure(CurrentCodeAddress());
    CallFaults::HarnessScope harness;
    result.escaped = true;
    try {
      throw;
    } catch (const Exception& error) {
      result.escaped_class = error.ClassName();
      result.escaped_message = error.Message();
    } catch (...) {
      result.escaped_class = "(not an Exception)";
    }
  }
  state.reset();  // the client goes here, as it would at the end of the process
  result.counts = CallFaults::Stop();
  SetAllocationGate(nullptr);
  std::set_new_handler(previous_handler);
  sockets_binding::SetSocketsLibraryFileName(library);

  result.log = sink.Written();
  result.first_failed_socket_call = ScriptedPeerStack::FirstFailedCall();
  result.live_components_after = LiveComponentCount;
  result.open_sockets_after = ScriptedPeerStack::OpenSockets();
  result.most_open_sockets = ScriptedPeerStack::MostOpenSockets();
  ScriptedPeerStack::SetScript({});  // its hooks refer to this run
  return result;
}
