#pragma once

#include <cstdint>

/// The operating system's version record: its own size, major and minor
/// version, build number, platform family and a service-pack text. The layout
/// is the 148-byte record that version queries have always filled in, so that
/// callers written against it keep their meaning on every platform.
struct OsVersionRecord {
  std::uint32_t size = sizeof(OsVersionRecord);  // set by the caller
  std::uint32_t major_version = 0;
  std::uint32_t minor_version = 0;
  std::uint32_t build_number = 0;
  std::uint32_t platform_id = 0;
  char csd_version[128] = {};  // NUL-terminated, possibly empty
};
static_assert(sizeof(OsVersionRecord) == 148, "the record's size is part of its contract");

/// Platform families of `OsVersionRecord::platform_id`.
inline constexpr std::uint32_t kPlatformWin32s = 0;
inline constexpr std::uint32_t kPlatformWin32Windows = 1;
inline constexpr std::uint32_t kPlatformWin32Nt = 2;

/// Fills `*record` with the running system's version. The caller sets
/// `record->size` to 148 first; any other size fails, as does a failing system
/// query. Returns false on failure and then leaves the fields after `size`
/// unspecified.
bool QueryOsVersion(OsVersionRecord* record);

/// The signature of `QueryOsVersion`, for callers that take the query as a
/// parameter (tests hand in one that fails).
using OsVersionQuery = bool (*)(OsVersionRecord* record);
