#include "runtime/memory_stream.h"

#include <algorithm>
#include <cstring>

void TMemoryStream::SetSize(std::int64_t size) {
  if (size < 0) size = 0;
  if (static_cast<std::uint64_t>(size) > data_.size()) {
    // Grow geometrically so that appending byte blocks stays linear.
    std::size_t capacity =
        std::max<std::size_t>(static_cast<std::size_t>(size), data_.size() + data_.size() / 2);
    data_.resize(capacity);
  }
  size_ = size;
  position_ = std::min(position_, size_);
}

void TMemoryStream::SetPosition(std::int64_t position) {
  position_ = std::clamp<std::int64_t>(position, 0, size_);
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  std::int64_t available = std::max<std::int64_t>(0, size_ - position_);
  std::int64_t n = std::clamp<std::int64_t>(count, 0, available);
  if (n > 0) std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  std::int64_t end = position_ + count;
  if (end > size_) {
    std::int64_t position = position_;
    TMemoryStream::SetSize(end);  // absolute, whatever a subclass makes of sizes
    position_ = position;
  }
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}
