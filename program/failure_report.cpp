#include "program/failure_report.h"

#include <algorithm>
#include <cstring>

#include "monitor/text_output.h"

namespace {

// Addresses below this are shown as they are: subtracting would wrap around.
constexpr CodeAddress kImageHeaderSize = 4096;

// Appends to a fixed area and drops whatever does not fit.
class ReportWriter {
 public:
  explicit ReportWriter(FailureReportText* report) : report_(report) {}

  ReportWriter& operator<<(std::string_view text) {
    std::size_t room = kFailureReportLimit - report_->size;
    std::size_t length = std::min(text.size(), room);
    std::memcpy(report_->area + report_->size, text.data(), length);
    report_->size += length;
    return *this;
  }

 private:
  FailureReportText* report_;
};

}  // namespace

FailureReportText FormatFailureReport(const FailureDescription& failure, CodeAddress code_address) {
  CodeModule module;
  CodeAddress shown;
  if (FindCodeModule(code_address, &module)) {
    shown = code_address - module.base;
  } else {
    FindExecutableFile(&module);
    shown = code_address >= kImageHeaderSize ? code_address - kImageHeaderSize : code_address;
  }
  char address[kAddressTextSize];
  FormatAddress(shown, address);
  std::string_view message = failure.message;
  bool add_full_stop = !message.empty() && message.back() != '.';

  FailureReportText report;
  ReportWriter(&report) << "Exception " << failure.class_name << " in module "
                        << ModuleBaseName(module.file_name) << " at " << address << ".\r\n"
                        << message << (add_full_stop ? "." : "") << "\r\n";
  report.area[report.size] = '\0';
  return report;
}

namespace {

// The journal makes an entry of each line and takes a "<N>" at its start as
// the entry's level: every line of the report is an error line, ends in LF
// alone, and the empty line that closes the report elsewhere would be an
// empty entry. Written piece by piece, which the journal joins into lines,
// so that this path needs no memory of its own.
void WriteReportToJournal(ConsoleSink& stream, std::string_view report) {
  while (!report.empty()) {
    std::size_t end = report.find('\n');
    std::string_view line = report.substr(0, end);
    report.remove_prefix(end == std::string_view::npos ? report.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    stream.Write("<3>", 3);
    stream.Write(line.data(), line.size());
    stream.Write("\n", 1);
  }
}

}  // namespace

void WriteFailureReport(TextOutput& log, ConsoleSink& error_stream,
                        const FailureDescription& failure, CodeAddress code_address) {
  try {
    // A line the echo left open in the journal ends first: standard error
    // may be the same stream, and the report must start lines of its own.
    log.EndOpenLine();
    log.Flush();
  } catch (const Exception&) {
    // The log's own failure: the report below is what matters now.
  }
  FailureReportText report = FormatFailureReport(failure, code_address);
  ConvertToConsoleCharacterSet(report.area, report.size);
  if (error_stream.Open() != 0) return;
  if (error_stream.Reader() == StreamReader::kJournal) {
    WriteReportToJournal(error_stream, report.View());
    return;
  }
  error_stream.Write(report.area, report.size);
  error_stream.Write("\r\n", 2);
}
