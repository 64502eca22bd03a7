#include "monitor/status_record_report.h"

#include <string>

#include "monitor/extract_between.h"
#include "monitor/text_output.h"
#include "monitor/trace_codes.h"

namespace {

struct RecordField {
  const char* start_tag;
  const char* end_tag;
  const char* label;
};

// Printed even when empty, after the record id.
constexpr RecordField kAlwaysShown[] = {
    {"<Event>", "</Event>", "EVENT: "},
    {"<DateTime>", "</DateTime>", "DATETIME: "},
    {"<Version>", "</Version>", "VERSION: "},
};

// Printed only when they have a value.
constexpr RecordField kShownWhenPresent[] = {
    {"<FileName>", "</FileName>", "FILENAME: "},
    {"<Member.ID>", "</Member.ID>", "MEMBER.ID: "},
    {"<Host>", "</Host>", "HOST: "},
    {"<Temp>", "</Temp>", "TEMP: "},
    {"<State>", "</State>", "STATE: "},
};

// The journal's level of the report: information, like the monitor's other
// progress lines; a value's own line breaks continue at the same level.
constexpr LineLevel kReportLevel = LineLevel::kInfo;

}  // namespace

void ReportStatusRecord(MonitorState& state, const MonitorServices& services) {
  std::string_view text = state.ReceivedText.Text();
  TextOutput& out = *services.output;
  state.TraceCode = kTraceTakingRecordId;
  state.LastSyslogID = ExtractBetween(text, "<LogRec.SyslogID>", "</LogRec.SyslogID>");
  state.TraceCode = kTraceWritingReport;
  // Reading stopped right after the terminator, so this usually ends the
  // echoed line rather than showing as an empty one.
  out.WriteLine({}, kReportLevel);
  out.WriteLine(services.Stamp(), kReportLevel);
  out.WriteLine("SYSLOG.ID: " + state.LastSyslogID, kReportLevel);
  for (const RecordField& field : kAlwaysShown) {
    out.WriteLine(field.label + ExtractBetween(text, field.start_tag, field.end_tag), kReportLevel);
  }
  for (const RecordField& field : kShownWhenPresent) {
    std::string value = ExtractBetween(text, field.start_tag, field.end_tag);
    if (!value.empty()) out.WriteLine(field.label + value, kReportLevel);
  }
}
