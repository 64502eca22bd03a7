#include "monitor/failure_report.h"

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <typeinfo>

#include "monitor/process_end.h"
#include "monitor/text_output.h"

namespace {

// Addresses below this are shown as they are: subtracting would wrap around.
constexpr CodeAddress kImageHeaderSize = 4096;

std::string ForeignClassName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return "unknown";
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> demangled(
      abi::__cxa_demangle(type->name(), nullptr, nullptr, &status), std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(type->name());
}

}  // namespace

FailureDescription DescribeFailure(const Exception& error) {
  return {error.ClassName(), error.Message()};
}

FailureDescription DescribeCurrentFailure() {
  try {
    throw;
  } catch (const Exception& error) {
    return DescribeFailure(error);
  } catch (...) {
    return {ForeignClassName(), ""};
  }
}

std::string FormatFailureReport(const FailureDescription& failure, CodeAddress code_address) {
  std::string module_file;
  CodeAddress shown;
  CodeModule module;
  if (FindCodeModule(code_address, &module)) {
    module_file = module.file_name;
    shown = code_address - module.base;
  } else {
    module_file = ExecutableFileName();
    shown = code_address >= kImageHeaderSize ? code_address - kImageHeaderSize : code_address;
  }
  const std::string& message = failure.message;
  bool add_full_stop = !message.empty() && message.back() != '.';

  std::string text = "Exception " + failure.class_name + " in module " +
                     ModuleBaseName(module_file) + " at " + FormatAddress(shown) + ".\r\n" +
                     message + (add_full_stop ? "." : "") + "\r\n";
  if (text.size() > kFailureReportLimit) text.resize(kFailureReportLimit);
  return text;
}

void WriteFailureReport(TextOutput& log, ConsoleSink& error_stream,
                        const FailureDescription& failure, CodeAddress code_address) {
  try {
    log.Flush();
  } catch (const Exception&) {
    // The log's own failure: the report below is what matters now.
  }
  std::string text = FormatFailureReport(failure, code_address);
  ConvertToConsoleCharacterSet(&text);
  if (error_stream.Open() != 0) return;
  error_stream.Write(text.data(), text.size());
  error_stream.Write("\r\n", 2);
}

void ReportUncaughtFailure(const FailureDescription& failure, CodeAddress code_address) {
  WriteFailureReport(StandardOutput(), StandardStreamSink(StandardStream::kError), failure,
                     code_address);
  EndProcess(1);
}
