// The test main of the Windows test executables, in place of GoogleTest's
// own: the same, but it lets threads still starting finish before the
// process ends (see thread_start_wait_win32.h).

#include <gtest/gtest.h>

#include "platform/testing/thread_start_wait_win32.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  WaitForThreadsStillStarting();
  return result;
}
