#pragma once

// What the sockets-library binding knows of the system it runs on: the
// library's file name and where the program loads it from, and the texts of
// the system codes its errors carry. One file per system:
// sockets_binding_system_posix.cpp, sockets_binding_system_win32.cpp. A leaf:
// the binding and the error classes both build on it.

#include <cstdint>
#include <string>

namespace sockets_binding {

/// The library's file name on this system, the one its load error shows.
extern const char* const kSocketsLibraryFileName;

/// The system's code for a library file that is not there: the code of the
/// load error when DefaultSocketsLibraryPath() is empty.
extern const std::int32_t kFileNotFoundCode;

/// Where the program loads the library from. On Windows the system's own
/// library by name; on POSIX systems our library by its absolute path, in
/// the program's private library folder, which lies at a fixed place
/// relative to the executable's own directory (so that an installed tree
/// can be moved as a whole). Neither the library search path nor a file of
/// the same name elsewhere can stand in for it. Empty when the system
/// cannot tell where the executable is.
std::string DefaultSocketsLibraryPath();

/// The text for a system code carried by the binding's errors: the
/// loader's codes and the sockets library's own "not started" code, which
/// the binding raises itself when a function is called while the library is
/// not loaded.
std::string SystemCodeText(std::int32_t code);

}  // namespace sockets_binding
