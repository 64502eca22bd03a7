#include "monitor/run_monitor.h"

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "monitor/application.h"
#include "monitor/status_record_report.h"
#include "monitor/text_output.h"
#include "monitor/version.h"
#include "runtime/exception.h"
#include "transport/tcp_client.h"

namespace {

constexpr std::int32_t kConnectTimeoutMs = 50000;
constexpr std::int32_t kPauseAfterFailedReadMs = 1000;
constexpr std::int32_t kPauseAfterFailedConnectMs = 2000;

std::string ErrorText(const Exception& error) {
  return "Error: " + error.Message() + " (" + error.ClassName() + ")";
}

// One connect attempt; its handler logs a failure and pauses.
void AttemptConnect(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  state.TraceCode = 1100;
  try {
    client.OpenConnection(kConnectTimeoutMs);
    if (client.IsConnected()) {
      state.WasConnected = true;
      services.output->WriteLine(services.Stamp() + " Connected to " + client.Host());
    }
  } catch (const Exception& error) {
    services.output->WriteLine(services.Stamp() + ErrorText(error));
    services.pause(kPauseAfterFailedConnectMs);
  }
}

// One read attempt: the byte is echoed, then kept. A failure closes the
// connection, so the receive loop ends at its connected test.
void ReadOneByte(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  try {
    char byte = static_cast<char>(client.ReadNextByte());
    if (byte != 0) {
      services.output->Write(std::string_view(&byte, 1));
      state.ReceivedText.Append(byte);
    }
  } catch (const Exception& error) {
    client.CloseConnection();
    services.pause(kPauseAfterFailedReadMs);
    services.output->WriteLine(services.Stamp() + ErrorText(error));
  }
}

// One connected pass: request, receive up to the end of a record or of the
// connection, report. Its handler logs a failure with the trace code and
// closes; the text received so far is kept for the next pass.
void RunConnectedPass(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  try {
    state.TraceCode = 220;
    client.WriteLine("GET " + state.RequestPath);
    services.output->WriteLine(services.Stamp() + " GET " + state.RequestPath);
    for (;;) {
      state.TraceCode = 230;
      ReadOneByte(state, services);
      state.TraceCode = 240;
      services.application->PumpMessages();
      if (state.ReceivedText.HoldsRecordTerminator()) break;
      if (!client.IsConnected()) break;
    }
    if (state.ReceivedText.HoldsRecordTerminator()) {
      ReportStatusRecord(state, services);
    } else if (state.WasConnected) {
      services.output->WriteLine(services.Stamp() + " Disconnected");
      state.WasConnected = false;
    }
    state.ReceivedText.Clear();
  } catch (const Exception& error) {
    services.output->WriteLine(ErrorText(error) +
                               " LogRec.Trace=" + std::to_string(state.TraceCode));
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
  services.output->WriteLine(std::string("Version: ") + kProgramVersion);
  services.output->WriteLine();
  state.TraceCode = 100;
  state.StatusClient = std::make_unique<TIdTCPClient>();
  state.TraceCode = 110;
  state.StatusClient->SetPort(settings.status_server_port);
  state.TraceCode = 120;
  state.StatusClient->SetHost(settings.status_server_host);
  state.WasConnected = true;
  state.TraceCode = 200;
  state.RequestPath = "/";
  for (;;) {
    state.TraceCode = 210;
    if (state.StatusClient->IsConnected()) {
      RunConnectedPass(state, services);
    } else {
      AttemptConnect(state, services);
    }
  }
}
