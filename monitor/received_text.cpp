#include "monitor/received_text.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "runtime/runtime_errors.h"

ReceivedTextBuffer::ReceivedTextBuffer(std::size_t limit) : limit_(limit) {}

void ReceivedTextBuffer::Append(char byte) {
  if (text_.size() >= limit_) throw EOutOfMemory();
  if (text_.size() == text_.capacity()) {
    try {
      text_.reserve(NextCapacity());
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory();
    } catch (const std::length_error&) {
      throw EOutOfMemory();
    }
  }
  text_.push_back(byte);
  terminator_.Feed(byte);
}

std::size_t ReceivedTextBuffer::NextCapacity() const {
  // Grow by doubling as usual, but never past the limit, so that the memory
  // held stays near the limit rather than twice it.
  return std::min(std::max<std::size_t>(2 * text_.capacity(), 64), limit_);
}

bool ReceivedTextBuffer::MakeRoom(std::size_t bytes) {
  const std::size_t wanted = std::min(bytes, limit_ - std::min(text_.size(), limit_));
  try {
    while (RoomWithoutGrowing() < wanted) text_.reserve(NextCapacity());
  } catch (...) {
    // A reserve that fails leaves the vector as it was; Append fails then
    // at the byte that needs the memory, as it would have.
    return false;
  }
  return true;
}

void ReceivedTextBuffer::Clear() {
  if (text_.capacity() > kKeptCapacity) {
    std::vector<char>().swap(text_);
  } else {
    text_.clear();
  }
  terminator_.Reset();
}

std::size_t ReceivedTextBuffer::AppendRun(std::string_view bytes) {
  if (bytes.empty()) return 0;
  std::size_t taken = terminator_.FeedUntilFound(bytes);
  // A run ends before its first NUL (the byte path drops it). NULs are rare,
  // so the search went first and only the bytes it took are looked at; when
  // one is there, the search fed bytes past it and starts over from the text.
  const void* nul = std::memchr(bytes.data(), 0, taken);
  if (nul != nullptr)
    taken = static_cast<std::size_t>(static_cast<const char*>(nul) - bytes.data());
  // Fits the memory held: no reallocation, nothing can fail.
  text_.insert(text_.end(), bytes.data(), bytes.data() + taken);
  if (nul != nullptr) RestartSearch();
  return taken;
}

void ReceivedTextBuffer::TruncateTo(std::size_t size) {
  text_.resize(size);
  RestartSearch();
}

void ReceivedTextBuffer::RestartSearch() {
  // The search's state depends only on the text's last bytes, fewer than the
  // terminator's length: feed them again from the start.
  terminator_.Reset();
  std::size_t tail = std::min(text_.size(), kRecordTerminator.size() - 1);
  for (std::size_t i = text_.size() - tail; i < text_.size(); ++i) terminator_.Feed(text_[i]);
}
