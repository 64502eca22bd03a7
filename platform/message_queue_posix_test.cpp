#include "platform/message_queue.h"

#include <chrono>
#include <future>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(MessageQueueTest, EmptyQueueReturnsAtOnce) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TakeThreadMessage().has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(MessageQueueTest, MessagesPostedToTheOwnThreadComeBackInOrder) {
  EnsureThreadMessageQueue();
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {kQuitMessage, 1, -1}));
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {0x400, 2, 3}));
  std::optional<ThreadMessage> first = TakeThreadMessage();
  std::optional<ThreadMessage> second = TakeThreadMessage();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(kQuitMessage, first->number);
  EXPECT_EQ(1u, first->wparam);
  EXPECT_EQ(-1, first->lparam);
  EXPECT_EQ(0x400u, second->number);
  EXPECT_FALSE(TakeThreadMessage().has_value());
}

TEST(MessageQueueTest, AnotherThreadPostsToThisOne) {
  EnsureThreadMessageQueue();
  std::thread::id self = std::this_thread::get_id();
  std::thread poster([self] { EXPECT_TRUE(PutThreadMessage(self, {7, 0, 0})); });
  poster.join();
  std::optional<ThreadMessage> message = TakeThreadMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(7u, message->number);
}

TEST(MessageQueueTest, ThreadWithoutQueueOrEndedGetsNothing) {
  std::promise<std::thread::id> started;
  std::promise<void> release;
  std::thread without_queue([&] {
    started.set_value(std::this_thread::get_id());
    release.get_future().wait();
  });
  std::thread::id id = started.get_future().get();
  EXPECT_FALSE(PutThreadMessage(id, {1, 0, 0}));
  release.set_value();
  without_queue.join();

  std::promise<std::thread::id> ended_id;
  std::thread with_queue([&] {
    EnsureThreadMessageQueue();
    ended_id.set_value(std::this_thread::get_id());
  });
  with_queue.join();
  EXPECT_FALSE(PutThreadMessage(ended_id.get_future().get(), {1, 0, 0}));
}

}  // namespace
