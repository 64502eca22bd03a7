#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/message_queue.h"

namespace {

TEST(MessageQueueTest, EmptyQueueReturnsAtOnce) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(TakeThreadMessage().has_value());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(MessageQueueTest, AQuitPostedByTheSystemCallIsTaken) {
  EnsureThreadMessageQueue();
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 5, 0));
  std::optional<ThreadMessage> message = TakeThreadMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(kQuitMessage, message->number);
  EXPECT_EQ(5u, message->wparam);
  EXPECT_FALSE(TakeThreadMessage().has_value()) << "taken means removed";
}

TEST(MessageQueueTest, MessagesPostedToTheOwnThreadComeBackInOrder) {
  EnsureThreadMessageQueue();
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {WM_APP + 1, 1, -1}));
  ASSERT_TRUE(PutThreadMessage(std::this_thread::get_id(), {WM_APP + 2, 2, 3}));
  std::optional<ThreadMessage> first = TakeThreadMessage();
  std::optional<ThreadMessage> second = TakeThreadMessage();
  ASSERT_TRUE(first && second);
  EXPECT_EQ(WM_APP + 1u, first->number);
  EXPECT_EQ(1u, first->wparam);
  EXPECT_EQ(-1, first->lparam);
  EXPECT_EQ(WM_APP + 2u, second->number);
  EXPECT_FALSE(TakeThreadMessage().has_value());
}

int g_window_calls = 0;
LRESULT CALLBACK CountingProcedure(HWND window, UINT number, WPARAM w, LPARAM l) {
  if (number == WM_APP + 7) {
    ++g_window_calls;
    return 0;
  }
  return DefWindowProcA(window, number, w, l);
}

TEST(MessageQueueTest, AMessageForAWindowGoesToItsProcedure) {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = CountingProcedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "message_queue_test";
  ASSERT_NE(RegisterClassA(&window_class), 0);
  HWND window = CreateWindowA("message_queue_test", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  g_window_calls = 0;
  ASSERT_TRUE(PostMessageA(window, WM_APP + 7, 0, 0));
  std::optional<ThreadMessage> message;
  while ((message = TakeThreadMessage()) && message->number != WM_APP + 7) {
  }
  ASSERT_TRUE(message);
  EXPECT_EQ(1, g_window_calls);
  DestroyWindow(window);
  UnregisterClassA("message_queue_test", window_class.hInstance);
}

TEST(MessageQueueTest, AnotherThreadPostsToThisOne) {
  EnsureThreadMessageQueue();
  std::thread::id self = std::this_thread::get_id();
  std::thread poster([self] { EXPECT_TRUE(PutThreadMessage(self, {WM_APP, 0, 0})); });
  poster.join();
  std::optional<ThreadMessage> message = TakeThreadMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(static_cast<std::uint32_t>(WM_APP), message->number);
}

TEST(MessageQueueTest, ThreadWithoutQueueOrEndedGetsNothing) {
  std::promise<std::thread::id> started;
  std::promise<void> release;
  std::thread without_queue([&] {
    started.set_value(std::this_thread::get_id());
    release.get_future().wait();
  });
  std::thread::id id = started.get_future().get();
  EXPECT_FALSE(PutThreadMessage(id, {WM_APP, 0, 0}));
  release.set_value();
  without_queue.join();

  std::promise<std::thread::id> ended_id;
  std::thread with_queue([&] {
    EnsureThreadMessageQueue();
    ended_id.set_value(std::this_thread::get_id());
  });
  with_queue.join();
  EXPECT_FALSE(PutThreadMessage(ended_id.get_future().get(), {WM_APP, 0, 0}));
}

}  // namespace
