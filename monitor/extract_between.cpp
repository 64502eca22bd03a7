#include "monitor/extract_between.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

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

void ValuesBetweenMarkers::Extract(std::string_view text,
                                   std::span<std::string_view> values) const {
  for (std::string_view& value : values) value = {};
  std::size_t from[kMostPairs];  // where value i begins, once its start is found
  // The start markers not found yet, and the end markers of the values found
  // since.
  std::uint32_t looked_for = starts_;
  // Every occurrence of every marker starts at a byte equal to their common
  // first byte, so only those places need a look, each once, in order: the
  // first occurrence of a start marker, and of an end marker at or after its
  // value's start, are the first places where they match.
  constexpr std::size_t kShortestMarker = 3;
  if (looked_for == 0 || text.size() < kShortestMarker) return;
  const char first = pairs_[0].start[0];
  const char* const data = text.data();
  const char* const last = data + (text.size() - kShortestMarker);  // where one can start
  for (const char* at = data; looked_for != 0 && at <= last; ++at) {
    at = static_cast<const char*>(std::memchr(at, first, static_cast<std::size_t>(last - at) + 1));
    if (at == nullptr) break;
    const std::size_t position = static_cast<std::size_t>(at - data);
    const std::size_t left = text.size() - position;
    const std::string_view place(at, kShortestMarker);
    for (std::uint32_t maybe = candidates_[Hash(place)] & looked_for; maybe != 0;
         maybe &= maybe - 1) {
      const auto bit = static_cast<std::size_t>(std::countr_zero(maybe));
      if (bit < kMostPairs) {
        const std::string_view marker = pairs_[bit].start;
        if (marker.size() > left || std::memcmp(at, marker.data(), marker.size()) != 0) continue;
        // The value runs to the end of the text until its end marker shows.
        from[bit] = position + marker.size();
        values[bit] = text.substr(from[bit]);
        looked_for ^= StartBit(bit) | EndBit(bit);
      } else {
        const std::size_t i = bit - kMostPairs;
        const std::string_view marker = pairs_[i].end;
        // An end marker counts from its value's start on; before that it can
        // only lie inside the start marker, at a later copy of the first byte.
        if (position < from[i] || marker.size() > left ||
            std::memcmp(at, marker.data(), marker.size()) != 0) {
          continue;
        }
        values[i] = values[i].substr(0, position - from[i]);
        looked_for ^= EndBit(i);
      }
    }
  }
}

void ExtractEachBetween(std::string_view text, std::span<const MarkerPair> pairs,
                        std::span<std::string_view> values) {
  // The pairs are independent of each other: as many passes as it takes.
  while (!pairs.empty()) {
    const std::size_t count = std::min(pairs.size(), ValuesBetweenMarkers::kMostPairs);
    ValuesBetweenMarkers(pairs.first(count)).Extract(text, values.first(count));
    pairs = pairs.subspan(count);
    values = values.subspan(count);
  }
}
