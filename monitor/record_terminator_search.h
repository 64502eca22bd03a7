#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// Tells whether a text that grows one byte at a time contains a fixed marker.
/// Searching the whole text after every byte costs time in proportion to the
/// text, so a long stream without the marker would cost quadratic time; this
/// keeps the state of a prefix automaton instead and costs constant amortised
/// time per byte, with exactly the answer of the whole-text search.
class IncrementalMarkerSearch {
 public:
  explicit IncrementalMarkerSearch(std::string_view marker);

  /// Takes the text's next byte.
  void Feed(char byte);

  /// Feeds bytes from the front of `bytes` up to the one after which the
  /// marker is found, or all of them; returns how many it fed. The same as
  /// Feed of each byte, stopping as soon as Found() is true (after the first
  /// byte when it already was).
  std::size_t FeedUntilFound(std::string_view bytes);

  /// True once the bytes fed since the last Reset contain the marker.
  bool Found() const { return matched_ == marker_.size(); }

  /// Starts over for an empty text.
  void Reset() { matched_ = 0; }

 private:
  std::string marker_;
  // fallback_[i]: length of the longest proper prefix of the marker's first
  // i + 1 bytes that is also a suffix of them.
  std::vector<std::size_t> fallback_;
  std::size_t matched_ = 0;  // marker bytes matched at the end of the text
  // The marker's byte that FeedUntilFound looks for first.
  std::size_t probe_ = 0;
};

/// The end of a status-change record.
inline constexpr std::string_view kRecordTerminator = "</StatusChange>";
