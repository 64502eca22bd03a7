// The stand-in sockets library's name functions. A file of their own: they
// carry the names of C library functions with other signatures, so no
// operating-system header may be seen here (the C++ library's <atomic>, for
// one, brings in the POSIX declarations).

#include <cstddef>
#include <cstdint>

#include "platform/sockets_abi.h"

#include "transport/testing/fake_export.h"

extern "C" {

// A successful lookup whose host has no address at all: a record that the
// real library never gives for IPv4, and that the stack must still reject.
FAKE_EXPORT ws::HostEnt* FAKE_WS_API gethostbyname(const char*) {
  static char name[] = "known-without-address";
  static char* no_aliases[] = {nullptr};
  static char* no_addresses[] = {nullptr};
  static ws::HostEnt host{name, no_aliases, static_cast<std::int16_t>(ws::kAfInet), 4,
                          no_addresses};
  return &host;
}

FAKE_EXPORT int FAKE_WS_API gethostname(char* name, int length) {
  const char own[] = "known-without-address";
  if (length < static_cast<int>(sizeof own)) return -1;
  for (std::size_t i = 0; i < sizeof own; ++i) name[i] = own[i];
  return 0;
}

}  // extern "C"
