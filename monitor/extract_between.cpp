#include "monitor/extract_between.h"

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
