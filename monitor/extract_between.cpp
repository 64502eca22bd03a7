#include "monitor/extract_between.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// The most pairs one pass watches at once (two bits each in a 32-bit mask);
// enough for a record's fields.
constexpr std::size_t kMostMarkerPairs = 16;

// ExtractEachBetween tells its markers apart by the two bytes after their
// common first one: of a record's tags, the first letter of the name, or the
// '/' of an end tag and the name's first letter.
constexpr std::size_t kShortestMarker = 3;

// A small hash of those two bytes: few enough values that the table of
// candidates costs little to set up for each text.
constexpr std::size_t kHashValues = 64;
std::size_t SecondAndThirdByte(const char* marker) {
  return (static_cast<unsigned char>(marker[1]) * 7u + static_cast<unsigned char>(marker[2])) %
         kHashValues;
}

// The first occurrence of `marker` in `text`, like string_view::find. That
// one stops wherever the marker's first byte occurs; a record's markers are
// tags, and their first byte, '<', opens every tag of the record. This stops
// where the second byte occurs instead (the first letter of the tag's name,
// or the '/' of an end tag), checks the first and compares the rest there.
std::size_t FindMarker(std::string_view text, std::string_view marker) {
  const std::size_t size = marker.size();
  if (size < 2) return text.find(marker);
  if (text.size() < size) return std::string_view::npos;
  const char* const data = text.data();
  // Where the second byte may lie: from the text's second byte to the last
  // place at which the marker still fits.
  const char* const last = data + (text.size() - size) + 1;
  for (const char* at = data + 1; at <= last; ++at) {
    at = static_cast<const char*>(
        std::memchr(at, marker[1], static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) break;
    if (at[-1] == marker[0] && std::memcmp(at + 1, marker.data() + 2, size - 2) == 0) {
      return static_cast<std::size_t>(at - 1 - data);
    }
  }
  return std::string_view::npos;
}

}  // namespace

std::string ExtractBetween(std::string_view text, std::string_view start_marker,
                           std::string_view end_marker) {
  std::size_t start = 0;
  if (!start_marker.empty()) {
    std::size_t found = FindMarker(text, start_marker);
    if (found == std::string_view::npos) return std::string();
    start = found + start_marker.size();
  }
  std::string_view rest = text.substr(start);
  if (!end_marker.empty()) {
    std::size_t end = FindMarker(rest, end_marker);
    if (end != std::string_view::npos) return std::string(rest.substr(0, end));
  }
  return std::string(rest);
}

void ExtractEachBetween(std::string_view text, std::span<const MarkerPair> markers,
                        std::span<std::string_view> values) {
  // The pairs are independent of each other: those beyond what one pass
  // watches get a pass of their own.
  if (markers.size() > kMostMarkerPairs) {
    ExtractEachBetween(text, markers.subspan(kMostMarkerPairs), values.subspan(kMostMarkerPairs));
    markers = markers.first(kMostMarkerPairs);
  }
  // Marker i is bit i of a mask when it is pair i's start marker, bit
  // kMostMarkerPairs + i when it is pair i's end marker. `candidates` tells
  // for the two bytes after a place which markers may start there.
  std::uint32_t candidates[kHashValues] = {};
  // The start markers not found yet, and the end markers of the values
  // found since.
  std::uint32_t looked_for = 0;
  std::size_t from[kMostMarkerPairs] = {};  // where value i begins, once found
  for (std::size_t i = 0; i < markers.size(); ++i) {
    values[i] = {};
    candidates[SecondAndThirdByte(markers[i].start.data())] |= std::uint32_t{1} << i;
    candidates[SecondAndThirdByte(markers[i].end.data())] |= std::uint32_t{1}
                                                             << (kMostMarkerPairs + i);
    looked_for |= std::uint32_t{1} << i;
  }
  // Every occurrence of every marker starts at a byte equal to their common
  // first byte, so only those places need a look, each once, in order: the
  // first occurrence of a start marker, and of an end marker at or after its
  // value's start, are the first places where they match.
  if (looked_for == 0 || text.size() < kShortestMarker) return;
  const char first = markers[0].start[0];
  const char* const data = text.data();
  const char* const last = data + (text.size() - kShortestMarker);  // where one can start
  for (const char* at = data; looked_for != 0 && at <= last; ++at) {
    at = static_cast<const char*>(std::memchr(at, first, static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) break;
    const std::size_t position = static_cast<std::size_t>(at - data);
    const std::size_t left = text.size() - position;
    for (std::uint32_t maybe = candidates[SecondAndThirdByte(at)] & looked_for; maybe != 0;
         maybe &= maybe - 1) {
      const auto bit = static_cast<std::size_t>(std::countr_zero(maybe));
      if (bit < kMostMarkerPairs) {
        const std::string_view marker = markers[bit].start;
        if (marker.size() > left || std::memcmp(at, marker.data(), marker.size()) != 0) continue;
        // The value runs to the end of the text until its end marker shows.
        from[bit] = position + marker.size();
        values[bit] = text.substr(from[bit]);
        looked_for ^= (std::uint32_t{1} << bit) | (std::uint32_t{1} << (kMostMarkerPairs + bit));
      } else {
        const std::size_t i = bit - kMostMarkerPairs;
        const std::string_view marker = markers[i].end;
        // An end marker counts from its value's start on; before that it can
        // only lie inside the start marker, at a later copy of the first byte.
        if (position < from[i] || marker.size() > left ||
            std::memcmp(at, marker.data(), marker.size()) != 0) {
          continue;
        }
        values[i] = values[i].substr(0, position - from[i]);
        looked_for ^= std::uint32_t{1} << bit;
      }
    }
  }
}
