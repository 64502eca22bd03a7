#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/code_address.h"

/// The line with which a runtime error ends the process, laid out on the
/// template "Runtime error     at 00000000": the number in decimal with its last
/// digit in column 17 (a three-digit number fills columns 15 to 17), the raw
/// code address in uppercase hexadecimal with its last digit in column 29, the
/// template's zeros left in front. Runtime error numbers are exit codes, so at
/// most three digits. An address wider than eight digits (a 64-bit process)
/// keeps all of them and makes the line that much longer.
std::string RuntimeErrorLine(std::uint8_t number, CodeAddress address);

/// Room for the line with a 16-digit address, and for CR LF after it.
inline constexpr std::size_t kRuntimeErrorLineSize = 21 + 2 * sizeof(CodeAddress) + 2;

/// The same line in a fixed area, with no library call at all, so that it
/// can be made inside a signal handler; returns its length.
std::size_t FormatRuntimeErrorLine(std::uint8_t number, CodeAddress address,
                                   char (&line)[kRuntimeErrorLineSize]);
