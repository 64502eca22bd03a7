// The test main of an executable whose tests run code in a child process
// that is the executable started again (RunInChild on Windows): in such a
// child the test framework's own report would mix with the output under
// test, so the child runs its test without it.

#include <gtest/gtest.h>

#include "platform/testing/self_child_win32.h"
#include "platform/testing/thread_start_wait_win32.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (!SelfChildCase().empty()) {
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  int result = RUN_ALL_TESTS();
  WaitForThreadsStillStarting();
  return result;
}
