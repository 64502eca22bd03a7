#include "monitor/testing/byte_by_byte_monitor.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "monitor/application.h"
#include "monitor/run_monitor.h"
#include "monitor/testing/reference_log.h"
#include "monitor/trace_codes.h"
#include "monitor/version.h"
#include "runtime/exception.h"
#include "runtime/runtime_errors.h"
#include "transport/tcp_client.h"

namespace {

using namespace reference_level;

constexpr std::string_view kRecordTerminator = "</StatusChange>";

struct ReportedField {
  std::string_view start_tag;
  std::string_view end_tag;
  std::string_view label;
  bool always;
};

// In the order of the report, after the record id.
constexpr ReportedField kReportedFields[] = {
    {"<Event>", "</Event>", "EVENT: ", true},
    {"<DateTime>", "</DateTime>", "DATETIME: ", true},
    {"<Version>", "</Version>", "VERSION: ", true},
    {"<FileName>", "</FileName>", "FILENAME: ", false},
    {"<Member.ID>", "</Member.ID>", "MEMBER.ID: ", false},
    {"<Host>", "</Host>", "HOST: ", false},
    {"<Temp>", "</Temp>", "TEMP: ", false},
    {"<State>", "</State>", "STATE: ", false},
};

// The value between the first start tag and the first end tag after it; to
// the end of the text without an end tag, empty without a start tag.
std::string FieldValue(std::string_view text, std::string_view start_tag,
                       std::string_view end_tag) {
  const std::size_t start = text.find(start_tag);
  if (start == std::string_view::npos) return {};
  const std::string_view rest = text.substr(start + start_tag.size());
  return std::string(rest.substr(0, rest.find(end_tag)));
}

class ByteByByteMonitor {
 public:
  ByteByByteMonitor(const MonitorSettings& settings, const MonitorServices& services,
                    MonitorState& state, ReferenceLog& log)
      : settings_(settings), services_(services), state_(state), log_(log) {}

  void Run();

 private:
  void AttemptConnect();
  void RunConnectedPass();
  void ReadOneByte();
  bool WritesOutFirst();
  void Keep(char byte);
  void Report();
  std::string Stamp() const;

  TIdTCPClient& Client() { return *state_.StatusClient; }
  static std::string ErrorText(const Exception& error) {
    return "Error: " + error.Message() + " (" + error.ClassName() + ")";
  }

  const MonitorSettings& settings_;
  const MonitorServices& services_;
  MonitorState& state_;
  ReferenceLog& log_;
  // The bytes of the pass without NUL bytes, and whether they hold the
  // terminator somewhere (the text only grows until it is emptied).
  std::string text_;
  bool holds_terminator_ = false;
};

void ByteByByteMonitor::Run() {
  log_.WriteLine(std::string("Version: ") + kProgramVersion, kInfo);
  log_.WriteLine({}, kInfo);
  state_.TraceCode = kTraceMakingClient;
  state_.StatusClient = std::make_unique<TIdTCPClient>();
  state_.TraceCode = kTraceSettingPort;
  Client().SetPort(settings_.status_server_port);
  state_.TraceCode = kTraceSettingHost;
  Client().SetHost(settings_.status_server_host);
  Client().DeadPathTimeoutS = settings_.dead_path_timeout_s;
  state_.WasConnected = true;
  state_.TraceCode = kTraceSettingRequestPath;
  state_.RequestPath = "/";
  for (;;) {
    state_.TraceCode = kTraceCycleHead;
    if (Client().IsConnected()) {
      RunConnectedPass();
    } else {
      AttemptConnect();
    }
  }
}

void ByteByByteMonitor::AttemptConnect() {
  state_.TraceCode = kTraceConnecting;
  try {
    Client().OpenConnection(kConnectTimeoutMs);
    if (Client().IsConnected()) {
      state_.WasConnected = true;
      log_.WriteLine(Stamp() + " Connected to " + Client().Host(), kInfo);
    }
  } catch (const Exception& error) {
    log_.WriteLine(Stamp() + ErrorText(error), kError);
    services_.pause(kPauseAfterFailedConnectMs);
  }
}

void ByteByByteMonitor::RunConnectedPass() {
  try {
    state_.TraceCode = kTraceRequesting;
    Client().WriteLine("GET " + state_.RequestPath);
    log_.WriteLine(Stamp() + " GET " + state_.RequestPath, kInfo);
    for (;;) {
      state_.TraceCode = kTraceReading;
      ReadOneByte();
      state_.TraceCode = kTraceAfterRead;
      services_.application->PumpMessages();
      if (holds_terminator_) break;
      if (!Client().IsConnected()) break;
    }
    if (holds_terminator_) {
      Report();
    } else if (state_.WasConnected) {
      log_.WriteLine(Stamp() + " Disconnected", kNotice);
      state_.WasConnected = false;
    }
    text_.clear();
    holds_terminator_ = false;
  } catch (const Exception& error) {
    log_.WriteLine(ErrorText(error) + " LogRec.Trace=" + std::to_string(state_.TraceCode), kError);
    Client().CloseConnection();
  }
}

void ByteByByteMonitor::ReadOneByte() {
  try {
    if (WritesOutFirst()) log_.WriteOutOpenLine();
    char byte = static_cast<char>(Client().ReadNextByte());
    if (byte != 0) {
      log_.Write(std::string_view(&byte, 1), kDebug);
      Keep(byte);
    }
  } catch (const Exception& error) {
    Client().CloseConnection();
    services_.pause(kPauseAfterFailedReadMs);
    log_.WriteLine(Stamp() + ErrorText(error), kError);
  }
}

// The journal holds back the start of an open line; it goes out before a
// read that may wait for the server (nothing is buffered), and before a
// byte the loop does not simply echo and keep: a NUL byte, a byte the full
// text cannot take, a byte after a complete record. Only the bytes between
// go without a write-out, whatever their number.
bool ByteByByteMonitor::WritesOutFirst() {
  const TIdManagedBuffer& buffered = Client().PendingInput;
  if (buffered.Size() == 0) return true;
  return buffered.UnreadStart()[0] == 0 || text_.size() >= settings_.received_text_limit ||
         holds_terminator_;
}

void ByteByByteMonitor::Keep(char byte) {
  if (text_.size() >= settings_.received_text_limit) throw EOutOfMemory();
  text_.push_back(byte);
  if (std::string_view(text_).ends_with(kRecordTerminator)) holds_terminator_ = true;
}

void ByteByByteMonitor::Report() {
  state_.TraceCode = kTraceTakingRecordId;
  state_.LastSyslogID = FieldValue(text_, "<LogRec.SyslogID>", "</LogRec.SyslogID>");
  state_.TraceCode = kTraceWritingReport;
  log_.WriteLine({}, kInfo);
  log_.WriteLine(Stamp(), kInfo);
  log_.WriteLine("SYSLOG.ID: " + state_.LastSyslogID, kInfo);
  for (const ReportedField& field : kReportedFields) {
    const std::string value = FieldValue(text_, field.start_tag, field.end_tag);
    if (field.always || !value.empty()) log_.WriteLine(std::string(field.label) + value, kInfo);
  }
}

// "hh:mm:ss.zzz" of the clock, to the nearest millisecond. The run's clock
// stands in 2024, so the value is positive.
std::string ByteByByteMonitor::Stamp() const {
  constexpr std::int64_t kMillisecondsPerDay = 86400000;
  const std::int64_t of_day =
      std::llround(services_.now() * kMillisecondsPerDay) % kMillisecondsPerDay;
  const std::string& separator = services_.time_separator;
  char text[64];
  std::snprintf(text, sizeof text, "%02d%s%02d%s%02d.%03d", static_cast<int>(of_day / 3600000),
                separator.c_str(), static_cast<int>(of_day / 60000 % 60), separator.c_str(),
                static_cast<int>(of_day / 1000 % 60), static_cast<int>(of_day % 1000));
  return text;
}

}  // namespace

void RunByteByByteMonitor(const MonitorSettings& settings, const MonitorServices& services,
                          MonitorState& state, ReferenceLog& log) {
  ByteByByteMonitor(settings, services, state, log).Run();
}
