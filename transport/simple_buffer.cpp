#include "transport/simple_buffer.h"

#include <cstring>

#include "transport/transport_errors.h"

void TIdSimpleBuffer::CheckAvailable(std::int32_t count) const {
  if (count > Size()) throw EIdNotEnoughDataInBuffer();
}

std::string TIdSimpleBuffer::TakeText(std::int32_t count) {
  CheckAvailable(count);
  std::string text(reinterpret_cast<const char*>(UnreadStart()), count > 0 ? count : 0);
  Discard(count);
  return text;
}

void TIdSimpleBuffer::Discard(std::int32_t count) {
  CheckAvailable(count);
  if (count < 0) return;
  if (count == Size()) {
    size_ = 0;
    position_ = 0;
  } else if (count > 0) {
    std::memmove(data_.data(), data_.data() + count, static_cast<std::size_t>(size_ - count));
    size_ -= count;
    position_ = position_ > count ? position_ - count : 0;
  }
  if (RemovalCallback) RemovalCallback(this, count);
}
