#pragma once

#include <span>
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

/// The markers of one value for ExtractEachBetween.
struct MarkerPair {
  std::string_view start;
  std::string_view end;
};

/// For each pair of `markers`, the value that ExtractBetween(text, start, end)
/// gives, as a view into `text`, found in one pass over the text instead of
/// one search per marker. `values[i]` gets the value of `markers[i]`.
/// REQUIRES: every marker is at least 3 bytes long and all begin with the
/// same byte (a record's tags all begin with '<'); `values` is as long as
/// `markers`.
void ExtractEachBetween(std::string_view text, std::span<const MarkerPair> markers,
                        std::span<std::string_view> values);
