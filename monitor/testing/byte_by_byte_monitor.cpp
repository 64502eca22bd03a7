#include "monitor/testing/byte_by_byte_monitor.h"

#include <string>

#include "monitor/application.h"
#include "monitor/run_monitor.h"
#include "monitor/status_record_report.h"
#include "monitor/text_output.h"
#include "monitor/trace_codes.h"
#include "monitor/version.h"
#include "runtime/exception.h"
#include "transport/tcp_client.h"

namespace {

std::string ErrorText(const Exception& error) {
  return "Error: " + error.Message() + " (" + error.ClassName() + ")";
}

void AttemptConnect(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  state.TraceCode = kTraceConnecting;
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

void RunConnectedPass(MonitorState& state, const MonitorServices& services) {
  TIdTCPClient& client = *state.StatusClient;
  try {
    state.TraceCode = kTraceRequesting;
    client.WriteLine("GET " + state.RequestPath);
    services.output->WriteLine(services.Stamp() + " GET " + state.RequestPath);
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

}  // namespace

void RunByteByByteMonitor(const MonitorSettings& settings, const MonitorServices& services,
                          MonitorState& state) {
  services.output->WriteLine(std::string("Version: ") + kProgramVersion);
  services.output->WriteLine();
  state.TraceCode = kTraceMakingClient;
  state.StatusClient = std::make_unique<TIdTCPClient>();
  state.TraceCode = kTraceSettingPort;
  state.StatusClient->SetPort(settings.status_server_port);
  state.TraceCode = kTraceSettingHost;
  state.StatusClient->SetHost(settings.status_server_host);
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
