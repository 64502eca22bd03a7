#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "runtime/memory_stream.h"

class TIdSimpleBuffer;

/// Told how many bytes were removed from the front of a buffer.
using TIdBufferRemovalCallback = std::function<void(TIdSimpleBuffer* buffer, std::int32_t count)>;

/// A byte buffer with removal from the front.
class TIdSimpleBuffer : public TMemoryStream {
 public:
  TIdBufferRemovalCallback RemovalCallback;

  /// The first `count` bytes as text, then removed. Raises
  /// EIdNotEnoughDataInBuffer when the buffer holds fewer.
  virtual std::string TakeText(std::int32_t count);
  /// Removes the first `count` bytes (EIdNotEnoughDataInBuffer when it holds
  /// fewer; a negative count removes nothing), then tells RemovalCallback.
  virtual void Discard(std::int32_t count);
  /// The first byte that TakeText or Discard would remove.
  virtual const std::uint8_t* UnreadStart() const { return Memory(); }

 protected:
  void CheckAvailable(std::int32_t count) const;
};
