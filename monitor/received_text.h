#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "monitor/record_terminator_search.h"

/// The bytes received in the current connected pass, bounded by a limit so
/// that a peer that never ends its record costs a bounded amount of memory
/// (on Linux exhausted memory is not an error: the kernel kills the process).
/// It also answers, at constant cost per byte, whether the text holds the
/// record terminator, with the answer a search of the whole text would give.
class ReceivedTextBuffer {
 public:
  explicit ReceivedTextBuffer(std::size_t limit);

  /// Appends one byte. Raises EOutOfMemory when the text already holds `Limit()`
  /// bytes or memory for it runs out; the text is then unchanged.
  void Append(char byte);

  /// True when the text contains "</StatusChange>".
  bool HoldsRecordTerminator() const { return terminator_.Found(); }

  std::string_view Text() const { return std::string_view(text_.data(), text_.size()); }

  /// Bytes of memory held for the text.
  std::size_t Capacity() const { return text_.capacity(); }

  /// Empties the text and gives its memory back.
  void Clear();

  std::size_t Limit() const { return limit_; }

 private:
  std::size_t limit_;
  std::vector<char> text_;  // its reserve() is exact, unlike a string's
  IncrementalMarkerSearch terminator_{kRecordTerminator};
};
