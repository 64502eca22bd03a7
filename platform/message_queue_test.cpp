// What every system's message queue does, run on each of them; the extras of
// one system are in message_queue_posix_test.cpp and message_queue_win32_test.cpp.

#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <future>
#include <thread>

namespace {

// Numbers of the range that applications define for themselves on Windows,
// so that no system message of that name is mistaken for one of these.
constexpr std::uint32_t kFirst = 0x8001;
constexpr std::uint32_t kSecond = 0x8002;

TEST(MessageQueueTest, EmptyQueueReturnsAtOnce) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TakeThreadMessage().has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(MessageQueueTest, MessagesPutToTheOwnThreadComeBackInOrderAndOnce) {
  EnsureThreadMessageQueue();
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {kFirst, 1, -1}));
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {kSecond, 2, 3}));
  std::optional<ThreadMessage> first = TakeThreadMessage();
  std::optional<ThreadMessage> second = TakeThreadMessage();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(kFirst, first->number);
  EXPECT_EQ(1u, first->wparam);
  EXPECT_EQ(-1, first->lparam);
  EXPECT_EQ(kSecond, second->number);
  EXPECT_EQ(2u, second->wparam);
  EXPECT_EQ(3, second->lparam);
  EXPECT_FALSE(TakeThreadMessage().has_value()) << "taken means removed";
}

TEST(MessageQueueTest, AnotherThreadPutsToThisOne) {
  EnsureThreadMessageQueue();
  std::thread::id self = std::this_thread::get_id();
  std::thread poster([self] { EXPECT_TRUE(PutThreadMessage(self, {kFirst, 0, 0})); });
  poster.join();
  std::optional<ThreadMessage> message = TakeThreadMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(kFirst, message->number);
}

TEST(MessageQueueTest, ThreadWithoutQueueOrEndedGetsNothing) {
  std::promise<std::thread::id> started;
  std::promise<void> release;
  std::thread without_queue([&] {
    started.set_value(std::this_thread::get_id());
    release.get_future().wait();
  });
  std::thread::id id = started.get_future().get();
  EXPECT_FALSE(PutThreadMessage(id, {kFirst, 0, 0}));
  release.set_value();
  without_queue.join();

  std::promise<std::thread::id> ended_id;
  std::thread with_queue([&] {
    EnsureThreadMessageQueue();
    ended_id.set_value(std::this_thread::get_id());
  });
  with_queue.join();
  EXPECT_FALSE(PutThreadMessage(ended_id.get_future().get(), {kFirst, 0, 0}));
}

}  // namespace
