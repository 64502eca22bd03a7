#pragma once

#include <algorithm>
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

  /// Bytes that AppendRun can take now: as many as Append would take one by
  /// one without growing the memory or reaching the limit.
  std::size_t RoomWithoutGrowing() const {
    return std::min(text_.capacity(), limit_) - std::min(text_.size(), limit_);
  }

  /// Grows the memory, the way Append would grow it byte by byte, until
  /// RoomWithoutGrowing() is at least `bytes` or the limit is reached.
  /// Returns false, with the text and its memory unchanged, when memory runs
  /// out: Append raises EOutOfMemory for the byte that needs it.
  bool MakeRoom(std::size_t bytes);

  /// Appends bytes from the front of `bytes` up to the one after which the
  /// text holds the terminator, or up to the first NUL (which is not
  /// appended), or all of them; returns how many it appended. The same as
  /// Append of each, stopping as soon as HoldsRecordTerminator() is true or
  /// at a NUL. REQUIRES: `bytes` holds no more than RoomWithoutGrowing().
  std::size_t AppendRun(std::string_view bytes);

  /// Takes back the bytes appended after the first `size`, for a run whose
  /// last bytes turn out not to belong to the text. REQUIRES: `size` is at
  /// most the text's size, and the terminator, if it is in the text, was
  /// completed by its last byte.
  void TruncateTo(std::size_t size);

  /// True when the text contains "</StatusChange>".
  bool HoldsRecordTerminator() const { return terminator_.Found(); }

  std::string_view Text() const { return std::string_view(text_.data(), text_.size()); }

  /// Bytes of memory held for the text.
  std::size_t Capacity() const { return text_.capacity(); }

  /// Empties the text. Memory beyond kKeptCapacity is given back; up to it
  /// it is kept for the next record, which is then collected without
  /// allocating.
  void Clear();

  static constexpr std::size_t kKeptCapacity = std::size_t{64} * 1024;

  std::size_t Limit() const { return limit_; }

 private:
  // The capacity Append grows to when the memory is full.
  std::size_t NextCapacity() const;
  // Sets the terminator search's state to that of the text as it is now.
  void RestartSearch();

  std::size_t limit_;
  std::vector<char> text_;  // its reserve() is exact, unlike a string's
  IncrementalMarkerSearch terminator_{kRecordTerminator};
};
