#include "monitor/run_monitor.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "monitor/application.h"
#include "monitor/status_record_report.h"
#include "monitor/text_output.h"
#include "monitor/trace_codes.h"
#include "monitor/version.h"
#include "runtime/exception.h"
#include "transport/tcp_client.h"

namespace {

// The levels the journal gets (elsewhere they change nothing). Failures are
// errors, so that filtering the journal for errors shows exactly them; a lost
// connection is a notice; the monitor's progress and its reports are
// information. The server's bytes are echoed at one fixed level, below all
// of the monitor's own lines, whatever they hold: a line of them that begins
// like a level prefix is text after ours.
constexpr LineLevel kProgressLevel = LineLevel::kInfo;
constexpr LineLevel kLossLevel = LineLevel::kNotice;
constexpr LineLevel kFailureLevel = LineLevel::kError;
constexpr LineLevel kEchoLevel = LineLevel::kDebug;

std::string ErrorText(const Exception& error) {
  return "Error: " + error.Message() + " (" + error.ClassName() + ")";
}

// One connect attempt; its handler logs a failure and pauses.
void AttemptConnect(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  state.TraceCode = kTraceConnecting;
  try {
    client.OpenConnection(kConnectTimeoutMs);
    if (client.IsConnected()) {
      state.WasConnected = true;
      services.output->WriteLineOf({services.Stamp(), " Connected to ", client.Host()},
                                   kProgressLevel);
    }
  } catch (const Exception& error) {
    services.output->WriteLine(services.Stamp() + ErrorText(error), kFailureLevel);
    services.pause(kPauseAfterFailedConnectMs);
  }
}

// Several read attempts in one step, over bytes the client already holds:
// the same effect as reading, echoing and appending them one at a time, each
// followed by the loop's steps 240 (trace code, event pump), the record test
// and the connected test, while none of those would have done anything but
// go on. The run is cut so that this holds:
// - the client hands out a run only when each single-byte read would be
//   served from its buffer and each connected test would answer true
//   without side effects (see BufferedRun);
// - no message is pending, so each skipped pump would have found the queue
//   empty; the loop pumps after the run, as after any read (a message posted
//   by another thread meanwhile is taken then, as it would be had it come a
//   moment later: handling it touches nothing of the loop);
// - the text takes every byte without growing or reaching its limit, so
//   appending cannot fail: its memory is grown first, as appending byte by
//   byte would grow it; when that fails, or at the limit, the byte path
//   raises the out-of-memory error at the byte that needs the memory;
// - the run ends at the first NUL (the byte path drops it) and at the byte
//   that completes the record terminator.
// The echo is written statement by statement in effect (WriteBytewise): the
// same write-outs at the same bytes. When one fails, the run ends at its
// byte: read, like every byte whose echo fails, but not appended.
// Returns false, having done nothing, when the next byte needs the byte path.
bool ReadBufferedRun(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  ReceivedTextBuffer& text = state.ReceivedText;
  std::string_view run = client.BufferedRun();
  if (run.empty() || text.HoldsRecordTerminator() || services.application->MessagesPending()) {
    return false;
  }
  // A run ends at the terminator, usually long before this; the bound keeps
  // the text's growth in step with the bytes taken.
  constexpr std::size_t kLongestRun = 4096;
  run = run.substr(0, kLongestRun);
  text.MakeRoom(run.size());
  const std::size_t size = std::min(run.size(), text.RoomWithoutGrowing());
  const std::size_t text_before = text.Text().size();
  // Up to the terminator or a NUL, whichever comes first.
  const std::size_t taken = text.AppendRun(run.substr(0, size));
  if (taken == 0) return false;
  std::size_t echoed = 0;
  try {
    services.output->WriteBytewise(run.substr(0, taken), &echoed, kEchoLevel);
  } catch (...) {
    text.TruncateTo(text_before + echoed - 1);
    client.ConsumeBufferedRun(static_cast<std::int32_t>(echoed));
    throw;
  }
  client.ConsumeBufferedRun(static_cast<std::int32_t>(taken));
  return true;
}

// One read attempt (or a run of them, above): the byte is echoed, then kept.
// A failure closes the connection, so the receive loop ends at its connected
// test.
void ReadOneByte(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  try {
    if (ReadBufferedRun(state, services)) return;
    // This read may wait for the server: the start of a line that the echo
    // has written so far goes out now, not when the line's end comes.
    services.output->WriteOutOpenLine();
    char byte = static_cast<char>(client.ReadNextByte());
    if (byte != 0) {
      services.output->Write(std::string_view(&byte, 1), kEchoLevel);
      state.ReceivedText.Append(byte);
    }
  } catch (const Exception& error) {
    client.CloseConnection();
    services.pause(kPauseAfterFailedReadMs);
    services.output->WriteLine(services.Stamp() + ErrorText(error), kFailureLevel);
  }
}

// One connected pass: request, receive up to the end of a record or of the
// connection, report. Its handler logs a failure with the trace code and
// closes; the text received so far is kept for the next pass.
void RunConnectedPass(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  try {
    state.TraceCode = kTraceRequesting;
    client.WriteLine("GET " + state.RequestPath);
    services.output->WriteLineOf({services.Stamp(), " GET ", state.RequestPath}, kProgressLevel);
    for (;;) {
      state.TraceCode = kTraceReading;
      ReadOneByte(state, services);
      state.TraceCode = kTraceAfterRead;
      services.application->PumpMessages();
      if (state.ReceivedText.HoldsRecordTerminator()) break;
      if (!client.IsConnected()) break;
    }
    if (state.ReceivedText.HoldsRecordTerminator()) {
      ReportStatusRecord(state, services);
    } else if (state.WasConnected) {
      services.output->WriteLine(services.Stamp() + " Disconnected", kLossLevel);
      state.WasConnected = false;
    }
    state.ReceivedText.Clear();
  } catch (const Exception& error) {
    services.output->WriteLine(
        ErrorText(error) + " LogRec.Trace=" + std::to_string(state.TraceCode), kFailureLevel);
    client.CloseConnection();
  }
}

// Set once and never freed: the monitor keeps its client until the process
// ends, also when an error leaves RunMonitor for the top-level handler.
MonitorState* process_monitor_state = nullptr;

}  // namespace

void RunMonitor(const MonitorSettings& settings) {
  std::optional<TApplication> own_application;
  MonitorServices services;
  services.output = &StandardOutput();
  services.pause = [](std::int32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  };
  services.now = [] { return Now(); };
  services.time_separator = ProcessTimeSeparator();
  // Start-up makes the application object; without it the pump still needs one.
  services.application = Application != nullptr ? Application : &own_application.emplace();
  if (process_monitor_state == nullptr) {
    process_monitor_state = new MonitorState(settings.received_text_limit);
  }
  RunMonitor(settings, services, *process_monitor_state);
}

void RunMonitor(const MonitorSettings& settings, const MonitorServices& services,
                MonitorState& state) {
  services.output->WriteLine(std::string("Version: ") + kProgramVersion, kProgressLevel);
  services.output->WriteLine({}, kProgressLevel);
  state.TraceCode = kTraceMakingClient;
  state.StatusClient = std::make_unique<TIdTCPClient>();
  state.TraceCode = kTraceSettingPort;
  state.StatusClient->SetPort(settings.status_server_port);
  state.TraceCode = kTraceSettingHost;
  state.StatusClient->SetHost(settings.status_server_host);
  state.StatusClient->DeadPathTimeoutS = settings.dead_path_timeout_s;
  state.WasConnected = true;
  state.TraceCode = kTraceSettingRequestPath;
  state.RequestPath = "/";
  for (;;) {
    state.TraceCode = kTraceCycleHead;
    if (state.StatusClient->IsConnected()) {
      RunConnectedPass(state, services);
    } else {
      AttemptConnect(state, services);
    }
  }
}
