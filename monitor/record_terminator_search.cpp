#include "monitor/record_terminator_search.h"

#include <cstring>

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

std::size_t IncrementalMarkerSearch::FeedUntilFound(std::string_view bytes) {
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  // Once in the text, always in the text: the first byte ends the run.
  if (Found()) return size == 0 ? 0 : 1;
  std::size_t fed = 0;
  while (fed < size) {
    if (matched_ == 0) {
      // Nothing matched: bytes other than the marker's first leave it so, and
      // memchr skips them many at a time.
      const void* first = std::memchr(data + fed, marker_[0], size - fed);
      if (first == nullptr) return size;
      fed = static_cast<std::size_t>(static_cast<const char*>(first) - data);
    }
    Feed(data[fed]);
    ++fed;
    if (Found()) break;
  }
  return fed;
}
