#include "monitor/received_text.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include <gtest/gtest.h>

#include "runtime/runtime_errors.h"

// Lets a test make the next allocation fail as if memory had run out. Plain
// operator new is replaced together with the deletes that free its blocks: a
// sanitizer's own delete would otherwise see malloc's blocks as mismatched.
namespace {
std::atomic<bool> fail_next_allocation{false};
}  // namespace

void* operator new(std::size_t size) {
  if (fail_next_allocation.exchange(false)) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

// Kept out of line: inlined, GCC would see free() on a pointer from operator
// new and warn of a mismatch that the pairing above rules out.
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }

[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

void AppendText(ReceivedTextBuffer& text, std::string_view bytes) {
  for (char byte : bytes) text.Append(byte);
}

TEST(ReceivedTextBufferTest, AppendBeyondTheLimitRaisesOutOfMemoryAndKeepsTheText) {
  ReceivedTextBuffer text(16);
  AppendText(text, "0123456789abcdef");
  try {
    text.Append('!');
    ADD_FAILURE() << "no error";
  } catch (const EOutOfMemory& error) {
    EXPECT_EQ("Out of memory", error.Message());
    EXPECT_STREQ("EOutOfMemory", error.ClassName());
  }
  EXPECT_EQ("0123456789abcdef", text.Text());
  EXPECT_LE(text.Capacity(), 16u);  // memory held stays near the limit
  text.Clear();
  AppendText(text, "again");
  EXPECT_EQ("again", text.Text());
}

TEST(ReceivedTextBufferTest, ByteThatDoesNotFitDoesNotCountForTheTerminator) {
  ReceivedTextBuffer text(kRecordTerminator.size() - 1);
  EXPECT_THROW(AppendText(text, kRecordTerminator), EOutOfMemory);
  EXPECT_FALSE(text.HoldsRecordTerminator());
}

TEST(ReceivedTextBufferTest, RealAllocationFailureBecomesOutOfMemory) {
  ReceivedTextBuffer text(1 << 20);
  AppendText(text, std::string(64, 'x'));  // exactly fills the first block
  fail_next_allocation = true;
  EXPECT_THROW(text.Append('y'), EOutOfMemory);
  fail_next_allocation = false;
  EXPECT_EQ(std::string(64, 'x'), text.Text());
  text.Append('y');
  EXPECT_EQ(65u, text.Text().size());
}

TEST(ReceivedTextBufferTest, TerminatorStaysFoundUntilCleared) {
  ReceivedTextBuffer text(1024);
  AppendText(text, "<Event>E</Event></Status");
  EXPECT_FALSE(text.HoldsRecordTerminator());
  AppendText(text, "Change>");
  EXPECT_TRUE(text.HoldsRecordTerminator());
  // A failed report keeps the text: the next pass finds the terminator again
  // whatever follows.
  AppendText(text, "<next");
  EXPECT_TRUE(text.HoldsRecordTerminator());
  text.Clear();
  EXPECT_FALSE(text.HoldsRecordTerminator());
  EXPECT_EQ("", text.Text());
}

}  // namespace

namespace {

TEST(ReceivedTextBufferTest, RunsGrowTheMemoryAsBytesWouldAndTruncateKeepsTheSearchRight) {
  ReceivedTextBuffer text(1000);
  ASSERT_TRUE(text.MakeRoom(100));
  EXPECT_EQ(128u, text.Capacity());  // 64, then doubled, as Append grows it
  EXPECT_EQ(3u, text.AppendRun("abc"));
  // A terminator cut off by truncation must not count, and one completed
  // later must.
  EXPECT_EQ(15u, text.AppendRun("</StatusChange>tail"));
  EXPECT_TRUE(text.HoldsRecordTerminator());
  text.TruncateTo(3 + 14);
  EXPECT_FALSE(text.HoldsRecordTerminator());
  EXPECT_EQ(1u, text.AppendRun(">"));
  EXPECT_TRUE(text.HoldsRecordTerminator());
  EXPECT_EQ("abc</StatusChange>", text.Text());

  // A NUL ends a run before it, also after a terminator that comes later in
  // the run, and the search goes on from the bytes before the NUL.
  ReceivedTextBuffer nul(1000);
  ASSERT_TRUE(nul.MakeRoom(100));
  EXPECT_EQ(8u, nul.AppendRun(std::string_view("</Status\0Change></StatusChange>", 31)));
  EXPECT_FALSE(nul.HoldsRecordTerminator());
  EXPECT_EQ(0u, nul.AppendRun(std::string_view("\0Change>", 8)));
  EXPECT_EQ(7u, nul.AppendRun("Change>"));  // as the byte path goes on after the NUL
  EXPECT_TRUE(nul.HoldsRecordTerminator());
  EXPECT_EQ("</StatusChange>", nul.Text());

  // Near the limit the room stops there.
  ReceivedTextBuffer small(100);
  ASSERT_TRUE(small.MakeRoom(500));
  EXPECT_EQ(100u, small.RoomWithoutGrowing());
}

TEST(ReceivedTextBufferTest, RoomThatCannotBeMadeLeavesTheTextAsItWas) {
  ReceivedTextBuffer text(1 << 20);
  AppendText(text, std::string(64, 'x'));
  fail_next_allocation = true;
  EXPECT_FALSE(text.MakeRoom(10));
  fail_next_allocation = false;
  EXPECT_EQ(64u, text.Capacity());
  EXPECT_EQ(std::string(64, 'x'), text.Text());
}

TEST(ReceivedTextBufferTest, ClearKeepsSmallMemoryAndGivesBackLargeMemory) {
  ReceivedTextBuffer text(1 << 20);
  AppendText(text, std::string(300, 'x'));
  text.Clear();
  EXPECT_EQ(512u, text.Capacity());
  EXPECT_TRUE(text.Text().empty());
  ASSERT_TRUE(text.MakeRoom(ReceivedTextBuffer::kKeptCapacity + 1));
  text.Clear();
  EXPECT_EQ(0u, text.Capacity());
}

}  // namespace
