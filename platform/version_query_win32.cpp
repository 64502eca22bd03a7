#include <windows.h>

#include "platform/version_query.h"

static_assert(sizeof(OSVERSIONINFOA) == sizeof(OsVersionRecord),
              "our record is the system's version record, field for field");

bool QueryOsVersion(OsVersionRecord* record) {
  // The system also takes the longer record (156 bytes); ours is the 148-byte
  // one only, so that both platforms refuse the same sizes.
  if (record == nullptr || record->size != sizeof(OsVersionRecord)) return false;
    // Deprecated for the "version lie" of newer systems, which is fine here:
    // only the platform family is used.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  return GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(record)) != FALSE;
#pragma GCC diagnostic pop
}
