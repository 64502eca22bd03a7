#include "monitor/record_terminator_search.h"

IncrementalMarkerSearch::IncrementalMarkerSearch(std::string_view marker)
    : marker_(marker), fallback_(marker.size(), 0) {
  std::size_t length = 0;
  for (std::size_t i = 1; i < marker_.size(); ++i) {
    while (length > 0 && marker_[i] != marker_[length]) length = fallback_[length - 1];
    if (marker_[i] == marker_[length]) ++length;
    fallback_[i] = length;
  }
}

void IncrementalMarkerSearch::Feed(char byte) {
  if (Found()) return;  // once in the text, always in the text
  while (matched_ > 0 && byte != marker_[matched_]) matched_ = fallback_[matched_ - 1];
  if (byte == marker_[matched_]) ++matched_;
}
