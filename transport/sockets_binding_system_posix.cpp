// Where POSIX systems find our sockets library, and the text of its codes
// that the system itself does not know.

#include <cerrno>

#include "platform/dynamic_library.h"
#include "platform/sockets_abi.h"
#include "transport/sockets_binding_system.h"

namespace sockets_binding {

const char* const kSocketsLibraryFileName = "libws2_32.so";
const std::int32_t kFileNotFoundCode = ENOENT;

// SOCKETS_LIBRARY_FOLDER is the private library folder relative to the
// executable's directory ("../lib/status-monitor/"); the build gives it, and
// lays out its own tree and the installed one the same way.
std::string DefaultSocketsLibraryPath() {
  std::string directory = ExecutableDirectory();
  if (directory.empty()) return "";
  return directory + SOCKETS_LIBRARY_FOLDER + kSocketsLibraryFileName;
}

std::string SystemCodeText(std::int32_t code) {
  // The system's error texts stop below the sockets numbering; this one code
  // the binding raises before any library is there to ask.
  if (code == ws::kWsaNotInitialised) return "The sockets library has not been started";
  return SystemErrorText(code);
}

}  // namespace sockets_binding
