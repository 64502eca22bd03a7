#pragma once

#include <cstddef>
#include <memory>

#include "platform/version_query.h"
#include "program/startup_sequence.h"

/// The CPU-usage probe's module. Its start-up step prepares the sample buffer
/// and learns the platform family from the version query; nothing in this
/// program takes a sample yet, so neither is read afterwards. A failing
/// version query is a start-up failure: it raises `Exception` with the
/// message "Can't get the Windows version".
class CpuUsageProbe final : public StartupModule {
 public:
  static constexpr std::size_t kProbeBufferSize = 8192;

  /// `query` is the platform's version query; tests hand in one that fails.
  explicit CpuUsageProbe(OsVersionQuery query = QueryOsVersion) : query_(query) {}

  /// Allocates the zero-filled buffer, then asks for the version. On failure
  /// the buffer stays allocated until the shutdown step.
  void Startup() override;

  /// Releases the buffer; does nothing when it was never allocated.
  void Shutdown() override;

  /// The sample buffer, or null outside the start-up and shutdown steps.
  const unsigned char* ProbeBuffer() const { return probe_buffer_.get(); }

  /// True when the platform reported the NT family.
  bool IsNtFamily() const { return is_nt_family_; }

 private:
  OsVersionQuery query_;
  std::unique_ptr<unsigned char[]> probe_buffer_;
  bool is_nt_family_ = false;
};
