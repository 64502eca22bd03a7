#include "platform/testing/thread_start_wait_win32.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

DWORD WINAPI ReturnAtOnce(void*) { return 0; }

DWORD WINAPI RunForTwoSeconds(void*) {
  Sleep(2000);
  return 0;
}

ULONGLONG MillisecondsOf(void (*wait)()) {
  ULONGLONG start = GetTickCount64();
  wait();
  return GetTickCount64() - start;
}

// A thread created suspended has not started: the wait holds until its limit.
// Once the thread has run, the wait returns at once, which shows that the
// thread's start was seen, not merely waited out.
TEST(ThreadStartWaitTest, WaitsForASuspendedThreadButNotForAStartedOne) {
  HANDLE thread = CreateThread(nullptr, 0, ReturnAtOnce, nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_GE(MillisecondsOf([] { WaitForThreadsStillStarting(300); }), 250u);
  ResumeThread(thread);
  WaitForThreadsStillStarting(5000);
  EXPECT_LT(MillisecondsOf([] { WaitForThreadsStillStarting(5000); }), 2000u);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);

  HANDLE running = CreateThread(nullptr, 0, RunForTwoSeconds, nullptr, 0, nullptr);
  ASSERT_NE(running, nullptr);
  EXPECT_LT(MillisecondsOf([] { WaitForThreadsStillStarting(5000); }), 2000u)
      << "a thread that has started and runs on is not waited for";
  WaitForSingleObject(running, INFINITE);
  CloseHandle(running);
}

}  // namespace
