#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

/// The text between the first occurrence of `start_marker` in `text` and the
/// first occurrence of `end_marker` after it, compared byte for byte.
/// - An empty start marker starts the value at the beginning of the text; a
///   start marker that does not occur gives an empty result.
/// - An empty end marker, or one that does not occur after the start marker,
///   lets the value run to the end of the text.
std::string ExtractBetween(std::string_view text, std::string_view start_marker,
                           std::string_view end_marker);

/// The markers of one value.
struct MarkerPair {
  std::string_view start;
  std::string_view end;
};

/// The values of several marker pairs, each the value that
/// ExtractBetween(text, start, end) gives, as a view into the text, all found
/// in one pass over the text instead of one search per marker. Made once for
/// a set of pairs (at compile time for a constant set), used for any number
/// of texts.
/// REQUIRES: at most kMostPairs pairs; every marker is at least 3 bytes long
/// and all begin with the same byte (a record's tags all begin with '<');
/// `pairs` outlives this object.
class ValuesBetweenMarkers {
 public:
  static constexpr std::size_t kMostPairs = 16;

  constexpr explicit ValuesBetweenMarkers(std::span<const MarkerPair> pairs) : pairs_(pairs) {
    if (pairs.size() > kMostPairs) throw std::length_error("too many marker pairs");
    for (std::size_t i = 0; i < pairs.size(); ++i) {
      candidates_[Hash(pairs[i].start)] |= StartBit(i);
      candidates_[Hash(pairs[i].end)] |= EndBit(i);
      starts_ |= StartBit(i);
    }
  }

  /// `values[i]` gets the value of pair i. REQUIRES: `values` is as long as
  /// the pairs.
  void Extract(std::string_view text, std::span<std::string_view> values) const;

 private:
  // Pair i's start marker is bit i of a mask, its end marker bit
  // kMostPairs + i.
  static constexpr std::uint32_t StartBit(std::size_t pair) { return std::uint32_t{1} << pair; }
  static constexpr std::uint32_t EndBit(std::size_t pair) {
    return std::uint32_t{1} << (kMostPairs + pair);
  }
  // The markers are told apart by the two bytes after their common first
  // one: of a record's tags, the first letter of the name, or the '/' of an
  // end tag and the name's first letter. A small hash of them indexes the
  // table of the markers that may start at a place.
  static constexpr std::size_t kHashValues = 64;
  static constexpr std::size_t Hash(std::string_view marker) {
    return (static_cast<unsigned char>(marker[1]) * 7u + static_cast<unsigned char>(marker[2])) %
           kHashValues;
  }

  std::span<const MarkerPair> pairs_;
  std::array<std::uint32_t, kHashValues> candidates_{};
  std::uint32_t starts_ = 0;
};

/// The same for any number of pairs, with the same requirements on each
/// marker: `values[i]` gets the value of `pairs[i]`.
void ExtractEachBetween(std::string_view text, std::span<const MarkerPair> pairs,
                        std::span<std::string_view> values);
