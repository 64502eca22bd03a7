// The Windows queue's own: the common behaviour is in message_queue_test.cpp.

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/message_queue.h"

namespace {

TEST(Win32MessageQueueTest, AQuitPostedByTheSystemCallIsTaken) {
  EnsureThreadMessageQueue();
  ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 5, 0));
  std::optional<ThreadMessage> message = TakeThreadMessage();
  ASSERT_TRUE(message);
  EXPECT_EQ(kQuitMessage, message->number);
  EXPECT_EQ(5u, message->wparam);
  EXPECT_FALSE(TakeThreadMessage().has_value()) << "taken means removed";
}

int g_window_calls = 0;
LRESULT CALLBACK CountingProcedure(HWND window, UINT number, WPARAM w, LPARAM l) {
  if (number == WM_APP + 7) {
    ++g_window_calls;
    return 0;
  }
  return DefWindowProcA(window, number, w, l);
}

TEST(Win32MessageQueueTest, AMessageForAWindowGoesToItsProcedure) {
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

}  // namespace
