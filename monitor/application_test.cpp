#include "monitor/application.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/message_queue.h"

namespace {

TEST(ApplicationTest, PumpWithAnEmptyQueueReturnsAtOnce) {
  TApplication application;
  auto start = std::chrono::steady_clock::now();
  application.PumpMessages();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(ApplicationTest, QuitMessageIsTakenByTheNextPumpAndChangesNothing) {
  TApplication application;
  std::thread::id main_thread = std::this_thread::get_id();
  std::thread poster([main_thread] {
    EXPECT_TRUE(PutThreadMessage(main_thread, {kQuitMessage, 0, 0}));
    EXPECT_TRUE(PutThreadMessage(main_thread, {0x401, 0, 0}));
  });
  poster.join();
  application.PumpMessages();
  EXPECT_FALSE(TakeThreadMessage().has_value());
  // And the pump goes on working afterwards.
  ASSERT_TRUE(PutThreadMessage(main_thread, {kQuitMessage, 0, 0}));
  application.PumpMessages();
  EXPECT_FALSE(TakeThreadMessage().has_value());
}

}  // namespace
