#include "platform/version_query.h"

#include <sys/utsname.h>

#include <cstdio>
#include <cstring>

namespace {

// Reads up to three dot-separated decimal numbers from a kernel release text
// such as "6.1.0-13-amd64" or "5.15.90.1-microsoft-standard"; what follows
// the numbers is the distribution's own tag and means nothing here.
void ParseRelease(const char* release, std::uint32_t* numbers, int count) {
  const char* p = release;
  for (int i = 0; i < count; ++i) {
    std::uint32_t value = 0;
    bool any = false;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + static_cast<std::uint32_t>(*p - '0');
      ++p;
      any = true;
    }
    if (!any) return;
    numbers[i] = value;
    if (*p != '.') return;
    ++p;
  }
}

}  // namespace

bool QueryOsVersion(OsVersionRecord* record) {
  if (record == nullptr || record->size != sizeof(OsVersionRecord)) return false;
  struct utsname names;
  if (uname(&names) != 0) return false;

  std::uint32_t numbers[3] = {0, 0, 0};
  ParseRelease(names.release, numbers, 3);
  record->major_version = numbers[0];
  record->minor_version = numbers[1];
  record->build_number = numbers[2];
  // A POSIX kernel is a protected-memory, preemptive system with per-process
  // time accounting: of the record's families, that is the NT one. Callers
  // that choose a method by family take the modern path.
  record->platform_id = kPlatformWin32Nt;
  // The service-pack text carries the kernel's build description, cut to fit.
  std::snprintf(record->csd_version, sizeof record->csd_version, "%s", names.version);
  return true;
}
