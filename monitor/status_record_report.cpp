#include "monitor/status_record_report.h"

#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "monitor/extract_between.h"
#include "monitor/text_output.h"
#include "monitor/trace_codes.h"

namespace {

struct RecordField {
  MarkerPair tags;
  std::string_view label;
  bool always_shown;  // else printed only when it has a value
};

// In the order of the report, after the record id.
constexpr RecordField kFields[] = {
    {{"<Event>", "</Event>"}, "EVENT: ", true},
    {{"<DateTime>", "</DateTime>"}, "DATETIME: ", true},
    {{"<Version>", "</Version>"}, "VERSION: ", true},
    {{"<FileName>", "</FileName>"}, "FILENAME: ", false},
    {{"<Member.ID>", "</Member.ID>"}, "MEMBER.ID: ", false},
    {{"<Host>", "</Host>"}, "HOST: ", false},
    {{"<Temp>", "</Temp>"}, "TEMP: ", false},
    {{"<State>", "</State>"}, "STATE: ", false},
};
constexpr std::size_t kFieldCount = std::size(kFields);

constexpr MarkerPair kRecordIdTags = {"<LogRec.SyslogID>", "</LogRec.SyslogID>"};

// What one pass over the record looks for: the fields' tags, then the record
// id's.
constexpr std::array<MarkerPair, kFieldCount + 1> kTagsLookedFor = [] {
  std::array<MarkerPair, kFieldCount + 1> tags{};
  for (std::size_t i = 0; i < kFieldCount; ++i) tags[i] = kFields[i].tags;
  tags[kFieldCount] = kRecordIdTags;
  return tags;
}();
constexpr ValuesBetweenMarkers kRecordValues(kTagsLookedFor);

// The journal's level of the report: information, like the monitor's other
// progress lines; a value's own line breaks continue at the same level.
constexpr LineLevel kReportLevel = LineLevel::kInfo;

}  // namespace

void ReportStatusRecord(MonitorState& state, const MonitorServices& services) {
  std::string_view text = state.ReceivedText.Text();
  TextOutput& out = *services.output;
  state.TraceCode = kTraceTakingRecordId;
  // All values in one pass over the record, as views into it: no copy of a
  // value but the record id's, which outlives the record.
  std::array<std::string_view, kTagsLookedFor.size()> values;
  kRecordValues.Extract(text, values);
  state.LastSyslogID.assign(values[kFieldCount]);
  state.TraceCode = kTraceWritingReport;
  // Reading stopped right after the terminator, so this usually ends the
  // echoed line rather than showing as an empty one.
  out.WriteLine({}, kReportLevel);
  out.WriteLine(services.Stamp(), kReportLevel);
  out.WriteLineOf({"SYSLOG.ID: ", state.LastSyslogID}, kReportLevel);
  for (std::size_t i = 0; i < kFieldCount; ++i) {
    if (kFields[i].always_shown || !values[i].empty()) {
      out.WriteLineOf({kFields[i].label, values[i]}, kReportLevel);
    }
  }
}
