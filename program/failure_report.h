#pragma once

#include <cstddef>
#include <string_view>

#include "platform/code_address.h"
#include "platform/console.h"
#include "program/failure_description.h"

class TextOutput;

/// The area a failure report is built in; the report is cut to one character
/// less.
inline constexpr std::size_t kFailureReportAreaSize = 1024;

/// The longest report; longer texts are cut to this many characters.
inline constexpr std::size_t kFailureReportLimit = kFailureReportAreaSize - 1;

/// A failure report in its fixed area: building and passing one allocates
/// nothing, so that a failure can be reported while memory is exhausted.
struct FailureReportText {
  char area[kFailureReportAreaSize];
  std::size_t size = 0;

  std::string_view View() const { return {area, size}; }
};

/// The report of a failure that escaped the monitor: a line
/// "Exception <class> in module <module> at <address>." and a line with the
/// message, followed by "." unless it is empty or ends with one; both lines
/// end with CR LF. The module is the loaded module that holds `code_address`
/// and the address is the offset into it; an address in no module is shown as
/// the executable's, 4096 below the raw address (addresses under 4096 as they
/// are). The address has eight uppercase hexadecimal digits or, for wider
/// values, as many as it needs. Cut to `kFailureReportLimit` characters.
FailureReportText FormatFailureReport(const FailureDescription& failure, CodeAddress code_address);

/// Writes the report the way the process does before it ends: first what
/// `log` still buffers (so the report follows the log's last line), then the
/// report, in the console's character set, and CR LF to `error_stream`. When
/// `error_stream` is the journal, a line the log left open is ended first and
/// each line of the report goes as an error line ("<3>", LF only) without the
/// closing empty line. Every write failure is ignored: there is nothing left
/// to report it to. Allocates nothing of its own.
void WriteFailureReport(TextOutput& log, ConsoleSink& error_stream,
                        const FailureDescription& failure, CodeAddress code_address);
