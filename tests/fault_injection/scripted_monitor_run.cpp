#include "tests/fault_injection/scripted_monitor_run.h"

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "monitor/application.h"
#include "monitor/monitor_state.h"
#include "monitor/run_monitor.h"
#include "monitor/text_output.h"
#include "platform/code_address.h"
#include "platform/console.h"
#include "program/process_end.h"
#include "runtime/runtime_errors.h"
#include "runtime/testing/failing_allocation.h"
#include "tests/fault_injection/scripted_peer_stack.h"
#include "transport/anti_freeze.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/sockets_binding.h"
#include "transport/sockets_library_stack.h"

namespace {

// Not derived from Exception, so it passes every handler of the monitor.
struct EndOfRun {};

// More pauses than the scripted run needs even with a fault in it: a run that
// gets here retries a call that stays failed (which the monitor must do
// forever) or loops.
constexpr std::size_t kMostPauses = 24;

// The connect thread is polled without sleeping; see fuzz/monitor_over_stream.
class NoSleepAntiFreeze final : public TIdAntiFreezeBase {
 public:
  NoSleepAntiFreeze() : TIdAntiFreezeBase(nullptr) { IdleTimeOut = 0; }
  void ProcessEvents() override { std::this_thread::yield(); }
};

// A record with the fields the report prints, the optional ones among them.
std::string Record(const std::string& id) {
  return "<StatusChange><LogRec.SyslogID>" + id + "</LogRec.SyslogID><Event>up</Event>" +
         "<DateTime>2024-03-05 09:05:03</DateTime><Version>2</Version><Host>h-" + id +
         "</Host></StatusChange>";
}

const std::string kRecordA = Record(kScriptedRecordIds[0]);
const std::string kRecordB = Record(kScriptedRecordIds[1]);
const std::string kRecordC = Record(kScriptedRecordIds[2]);

std::vector<PeerConnection> Script() {
  return {
      {true, kRecordA, 7},   // a record over several receives, then the close
      {false, "", 7},        // a refused reconnect
      {true, kRecordB, 16},  // the second record
      {true, kRecordC, 64},  // and one more, so a fault late in the run still has one after it
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

RunResult RunScripted(const std::optional<FaultPlan>& plan, Escapes escapes) {
  RunResult result;
  ScopedStackClass stack_class(&StackClassOf<ScriptedPeerStack>);
  ScriptedPeerStack::SetScript(Script());
  const bool loads_library = !SocketsStarted();
  const std::string library = sockets_binding::SocketsLibraryFileName();

  PlannedConsole sink;
  NoSleepAntiFreeze anti_freeze;
  TApplication application;
  TextOutput output(sink);
  double elapsed_days = 0;
  MonitorServices services;
  services.output = &output;
  services.application = &application;
  services.now = [&] { return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7}) + elapsed_days; };
  services.pause = [&](std::int32_t milliseconds) {
    CallFaults::HarnessScope harness;
    result.pauses.push_back(
        {milliseconds, sink.Written().size(), ScriptedPeerStack::OpenSockets()});
    elapsed_days += milliseconds / 86400000.0;
    if (milliseconds == 2000 && ScriptedPeerStack::ScriptDone()) {
      result.reached_end = true;
      throw EndOfRun{};
    }
    if (result.pauses.size() >= kMostPauses) {
      result.pause_limit = true;
      throw EndOfRun{};
    }
  };
  MonitorSettings settings;
  settings.status_server_host = "localhost";

  // Made inside, as the program's RunMonitor makes it: its allocation is one
  // of the run's.
  std::unique_ptr<MonitorState> state;
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
  ScriptedPeerStack::SetSendObserver([&] {
    result.requests.push_back({sink.Written().size(), std::string(state->ReceivedText.Text())});
  });

  std::new_handler previous_handler = std::set_new_handler(RaiseOutOfMemory);
  SetAllocationGate([] { return CallFaults::Fails(CallKind::kAllocation); });
  CallFaults::Start(plan, note_fault);
  if (loads_library && CallFaults::Fails(CallKind::kLibraryLoad)) {
    sockets_binding::SetSocketsLibraryFileName("/nonexistent/" + library);
  }
  try {
    state = std::make_unique<MonitorState>(settings.received_text_limit);
    RunMonitor(settings, services, *state);
  } catch (const EndOfRun&) {
  } catch (const SocketCallLimitReached&) {
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
  ScriptedPeerStack::SetSendObserver(nullptr);
  return result;
}
