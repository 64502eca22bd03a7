#include "transport/managed_buffer.h"

#include <algorithm>
#include <cstring>

#include "transport/transport_errors.h"

void TIdManagedBuffer::SetSize(std::int64_t size) { TIdSimpleBuffer::SetSize(consumed_ + size); }

void TIdManagedBuffer::SetPosition(std::int64_t position) {
  position_ = std::clamp<std::int64_t>(consumed_ + position, consumed_, size_);
}

void TIdManagedBuffer::Discard(std::int32_t count) {
  CheckAvailable(count);
  if (count < 0) return;
  if (count == Size()) {
    Reset();
  } else {
    consumed_ += count;
    position_ = std::max<std::int64_t>(position_, consumed_);
    if (consumed_ >= CompactThreshold) Compact();
  }
  if (RemovalCallback) RemovalCallback(this, count);
}

void TIdManagedBuffer::Compact() {
  if (consumed_ <= 0) return;
  std::int64_t unconsumed = size_ - consumed_;
  std::memmove(data_.data(), data_.data() + consumed_, static_cast<std::size_t>(unconsumed));
  size_ = unconsumed;
  position_ = std::max<std::int64_t>(0, position_ - consumed_);
  consumed_ = 0;
}

void TIdManagedBuffer::Reset() {
  size_ = 0;
  position_ = 0;
  consumed_ = 0;
}

void TIdManagedBuffer::Append(const void* bytes, std::int64_t count) {
  position_ = size_;
  TMemoryStream::Write(bytes, count);
}
