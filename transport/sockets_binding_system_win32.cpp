// Windows has the sockets library as a part of the system: it is loaded by
// its name, and the system knows the texts of all its codes.

#include "platform/dynamic_library.h"
#include "transport/sockets_binding_system.h"

namespace sockets_binding {

const char* const kSocketsLibraryFileName = "WS2_32.DLL";
const std::int32_t kFileNotFoundCode = 2;  // ERROR_FILE_NOT_FOUND

std::string DefaultSocketsLibraryPath() { return kSocketsLibraryFileName; }

std::string SystemCodeText(std::int32_t code) { return SystemErrorText(code); }

}  // namespace sockets_binding
