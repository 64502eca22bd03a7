// Start-up and clean-up of the library. The system's sockets need no
// start-up, so these only negotiate the version: the library keeps no state
// between them, and every other call works also before WSAStartup and after
// WSACleanup.

#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

// A version word holds the major number in its low byte and the minor number
// in its high byte: 2.2 is 0x0202, 1.1 is 0x0101.
constexpr std::uint16_t kLowestVersion = 0x0101;
constexpr std::uint16_t kHighestVersion = 0x0202;

int Ordinal(std::uint16_t version) { return (version & 0xFF) * 256 + (version >> 8); }

}  // namespace

int Startup(std::uint16_t version, ws::WsaData* data) {
  // Start-up reports its failure as its result, not as the last error.
  if (Ordinal(version) < Ordinal(kLowestVersion)) return kWsaVerNotSupported;
  if (data == nullptr) return kWsaEFault;
  // Only the two version fields are written: callers size the rest of the
  // record after their own platform's.
  data->wVersion = Ordinal(version) > Ordinal(kHighestVersion) ? kHighestVersion : version;
  data->wHighVersion = kHighestVersion;
  return 0;
}

int Cleanup() { return 0; }

}  // namespace wsposix
