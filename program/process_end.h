#pragma once

#include <cstdint>

#include "platform/code_address.h"
#include "runtime/exception.h"

class TextOutput;
struct FailureDescription;

// How the process ends. There is no normal end: the monitor never returns.
// Either a failure escapes it (report on standard error, exit code 1), or a
// start-up step fails (runtime-error line on standard output, exit code 217),
// or the process is stopped from outside, which ends it by the system's
// default, without anything of this program running.

/// The exit code the process ends with; 0 until `EndProcess` sets it.
int ExitCode();

/// Ends the process: sets the exit code; writes a pending runtime-error line
/// (after what standard output still buffers); runs the shutdown steps of the
/// process's start-up sequence; ends with the exit code. A shutdown step that
/// raises goes to the top-level handler once the other steps have run, which
/// (its report routine being gone by then) makes it runtime error 217.
/// A second thread that calls this while one is ending the process waits for
/// the end; the ending thread itself may call it again (a failing shutdown
/// step does).
[[noreturn]] void EndProcess(int exit_code);

/// Ends the process as a runtime error: the address is kept as pending, so
/// that `EndProcess(number)` writes `RuntimeErrorLine(number, address)`.
[[noreturn]] void RuntimeErrorEnd(std::uint8_t number, CodeAddress code_address);

/// The top-level handler, for a failure that no handler took, after the stack
/// was unwound (or, for a processor fault, on the alternate stack): calls
/// `UncaughtFailureHook` when it is set, and otherwise ends the process as
/// runtime error 217 at `code_address`. No stand-in for a platform treatment
/// or a debugger is offered the failure first: the report and exit code are
/// this program's own on every system.
[[noreturn]] void HandleUncaughtFailure(const FailureDescription& failure,
                                        CodeAddress code_address);

/// The top-level handler for the failure being handled: inside a catch block
/// only. The address is where the failure was raised, or `taken_at` for a
/// raised object that carries none (one not derived from `Exception`).
[[noreturn]] void HandleCurrentFailure(CodeAddress taken_at);

/// Writes the runtime-error line the way the end of the process does: what
/// `log` buffers, then the line with CR LF, written out at once. Write
/// failures are ignored: there is nothing left to report them to.
void WriteRuntimeErrorLine(TextOutput& log, std::uint8_t number, CodeAddress code_address);
