#include "monitor/record_terminator_search.h"

#include <algorithm>
#include <cstring>

namespace {

// Where in `marker` the search looks first: its last capital letter. In a
// record of tags whose names are written in capitals and small letters, a
// tag's '<', '/' and small letters occur many times, its capitals far fewer
// (of "</StatusChange>" the 'C' is about once in 100 bytes, the '<' once in
// 15), and every byte that the look stops at costs a comparison.
std::size_t ProbeIndex(std::string_view marker) {
  for (std::size_t i = marker.size(); i > 0; --i) {
    if (marker[i - 1] >= 'A' && marker[i - 1] <= 'Z') return i - 1;
  }
  return 0;
}

}  // namespace

IncrementalMarkerSearch::IncrementalMarkerSearch(std::string_view marker)
    : marker_(marker), fallback_(marker.size(), 0), probe_(ProbeIndex(marker)) {
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
  // Look where the marker's probe byte occurs (memchr passes over the bytes
  // between many at a time) and compare the marker around it.
  const std::string_view rest = bytes.substr(fed);
  const std::string_view marker = marker_;
  for (std::size_t at = probe_; at < rest.size(); ++at) {
    const void* hit = std::memchr(rest.data() + at, marker[probe_], rest.size() - at);
    if (hit == nullptr) break;
    at = static_cast<std::size_t>(static_cast<const char*>(hit) - rest.data());
    const std::size_t begin = at - probe_;
    if (rest.size() - begin < marker.size()) break;  // nor does it fit after a later one
    if (rest.substr(begin, marker.size()) == marker) {
      matched_ = marker.size();
      return fed + begin + marker.size();
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
