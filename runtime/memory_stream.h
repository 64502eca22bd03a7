#pragma once

#include <cstdint>
#include <vector>

/// The general in-memory byte stream: a size, a position, read, write and
/// seek; its memory grows on demand and its size can be set directly.
class TMemoryStream {
 public:
  TMemoryStream() = default;
  virtual ~TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  virtual std::int64_t Size() const { return size_; }
  /// Grows the memory as needed (new bytes are zero); the position is kept
  /// within the new size.
  virtual void SetSize(std::int64_t size);
  virtual std::int64_t Position() const { return position_; }
  virtual void SetPosition(std::int64_t position);
  /// Reads up to `count` bytes at the position; returns how many it read.
  virtual std::int64_t Read(void* buffer, std::int64_t count);
  /// Writes at the position, growing the stream; returns `count`.
  virtual std::int64_t Write(const void* buffer, std::int64_t count);

  /// The first byte of the stream's memory (position 0 of this class).
  std::uint8_t* Memory() { return data_.data(); }
  const std::uint8_t* Memory() const { return data_.data(); }

 protected:
  std::vector<std::uint8_t> data_;  // capacity; the stream is its first size_ bytes
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};
