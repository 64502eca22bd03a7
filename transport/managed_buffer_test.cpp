#include "transport/managed_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/transport_errors.h"

namespace {

void Append(TIdManagedBuffer& buffer, const std::string& bytes) {
  buffer.Append(bytes.data(), static_cast<std::int64_t>(bytes.size()));
}

std::string Unread(const TIdManagedBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.UnreadStart()),
                     static_cast<std::size_t>(buffer.Size()));
}

TEST(ManagedBufferTest, ConsumingByteByByteMovesMemoryOnlyAtTheThreshold) {
  TIdManagedBuffer buffer;
  buffer.CompactThreshold = 4;
  std::vector<std::int32_t> removed;
  buffer.RemovalCallback = [&](TIdSimpleBuffer*, std::int32_t n) { removed.push_back(n); };
  Append(buffer, "abcdefgh");
  std::string out;
  for (int i = 0; i < 3; ++i) {
    out += static_cast<char>(*buffer.UnreadStart());
    buffer.Discard(1);
  }
  EXPECT_EQ(buffer.ConsumedCount(), 3);
  out += static_cast<char>(*buffer.UnreadStart());
  buffer.Discard(1);  // fourth consumed byte: compacted
  EXPECT_EQ(buffer.ConsumedCount(), 0);
  EXPECT_EQ(Unread(buffer), "efgh");
  Append(buffer, "ij");  // arrives while bytes are still unread
  while (buffer.Size() > 0) {
    out += static_cast<char>(*buffer.UnreadStart());
    buffer.Discard(1);
  }
  EXPECT_EQ(out, "abcdefghij");
  EXPECT_EQ(buffer.ConsumedCount(), 0);  // read to its end: emptied
  EXPECT_EQ(removed.size(), 10u);
}

TEST(ManagedBufferTest, DiscardAndTakeTextCheckTheSize) {
  TIdManagedBuffer buffer;
  Append(buffer, "hello");
  EXPECT_THROW(buffer.Discard(6), EIdNotEnoughDataInBuffer);
  EXPECT_THROW(buffer.TakeText(6), EIdNotEnoughDataInBuffer);
  EXPECT_EQ(Unread(buffer), "hello");  // unchanged by the failures
  EXPECT_EQ(buffer.TakeText(2), "he");
  EXPECT_EQ(buffer.Size(), 3);
  EXPECT_EQ(buffer.TakeText(3), "llo");
  EXPECT_EQ(buffer.Size(), 0);
  try {
    buffer.Discard(1);
    FAIL();
  } catch (const EIdNotEnoughDataInBuffer& e) {
    EXPECT_EQ(e.Message(), "Not enough data in buffer.");
    EXPECT_STREQ(e.ClassName(), "EIdNotEnoughDataInBuffer");
  }
}

TEST(ManagedBufferTest, SizesAndPositionsReferToUnconsumedBytes) {
  TIdManagedBuffer buffer;
  Append(buffer, "0123456789");
  buffer.Discard(4);
  EXPECT_EQ(buffer.Size(), 6);
  buffer.SetPosition(0);
  char two[2];
  EXPECT_EQ(buffer.Read(two, 2), 2);
  EXPECT_EQ(std::string(two, 2), "45");
  EXPECT_EQ(buffer.Position(), 2);
}

TEST(ManagedBufferTest, LongStreamsKeepOrderAcrossManyCompactions) {
  TIdManagedBuffer buffer;  // default threshold 32768
  std::string expected, got;
  for (int block = 0; block < 40; ++block) {
    std::string bytes(5000, static_cast<char>('a' + block % 26));
    bytes[0] = static_cast<char>(block);
    expected += bytes;
    Append(buffer, bytes);
    for (int i = 0; i < 3000; ++i) {
      got += static_cast<char>(*buffer.UnreadStart());
      buffer.Discard(1);
    }
  }
  got += Unread(buffer);
  EXPECT_EQ(got, expected);
}

TEST(SimpleBufferTest, DiscardMovesTheRestToTheFront) {
  TIdSimpleBuffer buffer;
  buffer.Write("abcdef", 6);
  std::int32_t told = -1;
  buffer.RemovalCallback = [&](TIdSimpleBuffer*, std::int32_t n) { told = n; };
  buffer.Discard(2);
  EXPECT_EQ(told, 2);
  EXPECT_EQ(buffer.TakeText(4), "cdef");
  EXPECT_EQ(buffer.Size(), 0);
  EXPECT_THROW(buffer.Discard(1), EIdNotEnoughDataInBuffer);
}

}  // namespace
