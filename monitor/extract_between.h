#pragma once

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
