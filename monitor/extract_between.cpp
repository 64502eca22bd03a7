#include "monitor/extract_between.h"

std::string ExtractBetween(std::string_view text, std::string_view start_marker,
                           std::string_view end_marker) {
  std::size_t start = 0;
  if (!start_marker.empty()) {
    std::size_t found = text.find(start_marker);
    if (found == std::string_view::npos) return std::string();
    start = found + start_marker.size();
  }
  std::string_view rest = text.substr(start);
  if (!end_marker.empty()) {
    std::size_t end = rest.find(end_marker);
    if (end != std::string_view::npos) return std::string(rest.substr(0, end));
  }
  return std::string(rest);
}
