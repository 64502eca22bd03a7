#pragma once

#include <cstddef>
#include <string>

#include "platform/console.h"
#include "platform/process.h"
#include "runtime/exception.h"

class TextOutput;

/// What the top-level handler shows of a failure: the class name of the
/// raised object (its own, most derived class) and its message, which only
/// objects derived from `Exception` have.
struct FailureDescription {
  std::string class_name;
  std::string message;
};

/// The description of an error object.
FailureDescription DescribeFailure(const Exception& error);

/// The description of the failure being handled: inside a catch block only.
/// An object not derived from `Exception` has no message; its class name is
/// its C++ type as the language runtime names it, demangled
/// ("std::runtime_error", "int"), or "unknown" when the runtime can't tell.
FailureDescription DescribeCurrentFailure();

/// The longest report; longer texts are cut to this many characters.
inline constexpr std::size_t kFailureReportLimit = 1023;

/// The report of a failure that escaped the monitor: a line
/// "Exception <class> in module <module> at <address>." and a line with the
/// message, followed by "." unless it is empty or ends with one; both lines
/// end with CR LF. The module is the loaded module that holds `code_address`
/// and the address is the offset into it; an address in no module is shown as
/// the executable's, 4096 below the raw address (addresses under 4096 as they
/// are). The address has eight uppercase hexadecimal digits or, for wider
/// values, as many as it needs. Cut to `kFailureReportLimit` characters.
std::string FormatFailureReport(const FailureDescription& failure, CodeAddress code_address);

/// Writes the report the way the process does before it ends: first what
/// `log` still buffers (so the report follows the log's last line), then the
/// report and CR LF to `error_stream`. Every write failure is ignored: there
/// is nothing left to report it to.
void WriteFailureReport(TextOutput& log, ConsoleSink& error_stream,
                        const FailureDescription& failure, CodeAddress code_address);

/// The uncaught-failure routine of the process: `WriteFailureReport` with the
/// standard output and standard error, then the process ends with exit code 1
/// after its shutdown steps (`EndProcess`).
[[noreturn]] void ReportUncaughtFailure(const FailureDescription& failure,
                                        CodeAddress code_address);
