#include "monitor/record_terminator_search.h"

#include <algorithm>
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
  const std::size_t size = bytes.size();
  // Once in the text, always in the text: the first byte ends the run.
  if (Found()) return size == 0 ? 0 : 1;
  // Go on with a match that began in earlier bytes until it completes or
  // falls back to nothing.
  std::size_t fed = 0;
  while (fed < size && matched_ > 0) {
    Feed(bytes[fed++]);
    if (Found()) return fed;
  }
  if (fed == size) return fed;
  // Nothing matched at `fed`: an occurrence can only lie whole in the rest.
  // Look where the marker's first byte occurs (memchr passes over the bytes
  // between many at a time) and compare the marker there.
  const std::string_view rest = bytes.substr(fed);
  const std::string_view marker = marker_;
  for (std::size_t at = 0; at < rest.size(); ++at) {
    const void* first = std::memchr(rest.data() + at, marker[0], rest.size() - at);
    if (first == nullptr) break;
    at = static_cast<std::size_t>(static_cast<const char*>(first) - rest.data());
    if (rest.substr(at, marker.size()) == marker) {
      matched_ = marker.size();
      return fed + at + marker.size();
    }
  }
  // None there: the state is that of the rest's last bytes, fewer than the
  // marker's length, fed from nothing.
  for (std::size_t i = rest.size() - std::min(rest.size(), marker_.size() - 1); i < rest.size();
       ++i) {
    Feed(rest[i]);
  }
  return size;
}
