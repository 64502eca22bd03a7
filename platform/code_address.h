#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Where a code address lies: the module that holds it, and the address as the
// failure reports and runtime-error lines show it. Nothing here allocates but
// the functions that return a string, so that a failure can be reported while
// memory is exhausted.

/// An address in the process's memory, as the failure reports show it.
using CodeAddress = std::uintptr_t;

/// Room for an address as text: up to 16 hexadecimal digits and a NUL.
inline constexpr std::size_t kAddressTextSize = 2 * sizeof(CodeAddress) + 1;

/// Formats an address as uppercase hexadecimal with at least eight digits,
/// zero-padded; wider addresses of a 64-bit process keep all their digits
/// rather than losing the high ones. Allocates nothing.
void FormatAddress(CodeAddress address, char (&text)[kAddressTextSize]);

/// The same as a string.
std::string FormatAddress(CodeAddress address);

/// Room for a module's file name with its NUL; longer names are cut.
inline constexpr std::size_t kModuleFileNameSize = 4096;

/// A loaded module: the executable or a shared library. Held in a fixed area,
/// so that a failure report can find a module while memory is exhausted.
struct CodeModule {
  char file_name[kModuleFileNameSize] = {};  // as the loader names it, NUL-
                                             // terminated; may hold a directory
  CodeAddress base = 0;                      // the address the module's image is loaded at
};

/// Finds the loaded module whose image holds `address`. Returns false when the
/// address lies in none of them (heap, stack, unmapped memory, 0); `*module`
/// is then left alone. Allocates nothing.
bool FindCodeModule(CodeAddress address, CodeModule* module);

/// Stores the running executable's file name with its directory in
/// `module->file_name`, or "" when the system can't tell; leaves `base`
/// alone. Allocates nothing.
void FindExecutableFile(CodeModule* module);

/// The same as a string.
std::string ExecutableFileName();

/// The name of a module file without its directory part: a view into
/// `file_name`.
std::string_view ModuleBaseName(std::string_view file_name);

/// The code address that the caller returns to: an address inside the
/// function that calls this, right after the call. It marks where a failure
/// was taken when the failure itself carries no address.
CodeAddress CurrentCodeAddress();
