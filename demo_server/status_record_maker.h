#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <string>

/// Makes the status-change records the demo server sends: the nine fields a
/// monitor reads, with values that change from record to record, optional
/// fields now and then absent or empty, and both layouts seen in the field
/// (all on one line, or one field per line with CR LF between). The text
/// always ends with the terminator "</StatusChange>".
///
/// Not thread-safe: a server that shares one maker between connections
/// serialises the calls.
class StatusRecordMaker final {
 public:
  /// The same seed gives the same records for the same moments.
  explicit StatusRecordMaker(std::uint32_t seed, int first_id = 1000);

  /// The next record, reporting a change at `moment`. Record ids count up by
  /// one from `first_id`.
  std::string Next(std::chrono::system_clock::time_point moment);

 private:
  std::string OptionalField(const std::string& tag, const std::string& value);
  int Roll(int sides) { return std::uniform_int_distribution<int>(0, sides - 1)(random_); }

  std::mt19937 random_;
  int next_id_;
  int temp_tenths_ = 415;  // drifts a little with every record
};

/// The moment as an ISO 8601 UTC text, e.g. "2026-12-10T05:31:07Z".
std::string IsoUtcText(std::chrono::system_clock::time_point moment);
