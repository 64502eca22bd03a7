#include "program/cpu_usage_probe.h"

#include "runtime/exception.h"

void CpuUsageProbe::Startup() {
  probe_buffer_ = std::make_unique<unsigned char[]>(kProbeBufferSize);  // zero-filled
  OsVersionRecord version;
  version.size = sizeof version;
  if (!query_(&version)) throw Exception("Can't get the Windows version");
  is_nt_family_ = version.platform_id == kPlatformWin32Nt;
}

void CpuUsageProbe::Shutdown() { probe_buffer_.reset(); }
