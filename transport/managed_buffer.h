#pragma once

#include <cstdint>

#include "transport/simple_buffer.h"

/// The input buffer: consumes from the front by advancing an offset, so that
/// taking bytes one at a time moves memory only once per CompactThreshold
/// consumed bytes, and a buffer read to its end is emptied without moving
/// anything. Size and positions refer to the unconsumed bytes only.
class TIdManagedBuffer final : public TIdSimpleBuffer {
 public:
  std::int64_t Size() const override { return size_ - ConsumedCount(); }
  void SetSize(std::int64_t size) override;
  std::int64_t Position() const override { return position_ - ConsumedCount(); }
  void SetPosition(std::int64_t position) override;

  void Discard(std::int32_t count) override;
  /// Moves the unconsumed bytes to the front of the memory.
  void Compact();
  /// Empties the buffer.
  void Reset();

  /// Appends bytes at the end, whatever the position.
  void Append(const void* bytes, std::int64_t count);

  /// The first unconsumed byte.
  const std::uint8_t* UnreadStart() const override { return Memory() + consumed_; }
  std::int32_t ConsumedCount() const { return consumed_; }

  std::int32_t CompactThreshold = 32768;

 private:
  std::int32_t consumed_ = 0;
};
