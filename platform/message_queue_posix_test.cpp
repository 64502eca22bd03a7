// The POSIX queue's own: the common behaviour is in message_queue_test.cpp.

#include "platform/message_queue.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// No system posts here: the quit message is a number like any other, put
// and taken with its parameters.
TEST(PosixMessageQueueTest, TheQuitMessageIsPutAndTakenLikeAnyOther) {
  EnsureThreadMessageQueue();
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {kQuitMessage, 1, -1}));
  std::optional<ThreadMessage> message = TakeThreadMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(kQuitMessage, message->number);
  EXPECT_EQ(1u, message->wparam);
  EXPECT_EQ(-1, message->lparam);
  EXPECT_FALSE(TakeThreadMessage().has_value());
}

}  // namespace
