#include "monitor/failure_report.h"

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

void WriteFailureReport(TextOutput& log, ConsoleSink& error_stream,
                        const FailureDescription& failure, CodeAddress code_address) {
  try {
    log.Flush();
  } catch (const Exception&) {
    // The log's own failure: the report below is what matters now.
  }
  FailureReportText report = FormatFailureReport(failure, code_address);
  ConvertToConsoleCharacterSet(report.area, report.size);
  if (error_stream.Open() != 0) return;
  error_stream.Write(report.area, report.size);
  error_stream.Write("\r\n", 2);
}
