#include "platform/testing/thread_start_wait_win32.h"

#include <windows.h>
// (after windows.h, whose types it uses)
#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
// The threads that have run their attach notification and not yet ended.
// Allocated on first use: threads may attach before static constructors run.
std::vector<DWORD>* g_started = nullptr;

void NoteThreadEvent(DWORD reason) {
  DWORD self = GetCurrentThreadId();
  AcquireSRWLockExclusive(&g_lock);
  if (g_started == nullptr) g_started = new std::vector<DWORD>;
  if (reason == DLL_THREAD_ATTACH) {
    g_started->push_back(self);
  } else {
    // Ids are reused: a later thread with this id must count as new.
    std::erase(*g_started, self);
  }
  ReleaseSRWLockExclusive(&g_lock);
}

void NTAPI OnThreadEvent(PVOID, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_ATTACH || reason == DLL_THREAD_DETACH) NoteThreadEvent(reason);
}

bool HasStarted(DWORD thread) {
  AcquireSRWLockShared(&g_lock);
  bool started = g_started != nullptr &&
                 std::find(g_started->begin(), g_started->end(), thread) != g_started->end();
  ReleaseSRWLockShared(&g_lock);
  return started;
}

// Whether some other thread of the process exists that has not finished
// starting. A snapshot that can't be taken counts as none.
bool AThreadIsStillStarting() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const DWORD process = GetCurrentProcessId();
  const DWORD self = GetCurrentThreadId();
  bool starting = false;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot, &entry); more && !starting;
       more = Thread32Next(snapshot, &entry)) {
    starting = entry.th32OwnerProcessID == process && entry.th32ThreadID != self &&
               !HasStarted(entry.th32ThreadID);
  }
  CloseHandle(snapshot);
  return starting;
}

}  // namespace

// The loader calls the executable's TLS callbacks on every thread as it
// starts and ends, after the thread's own start-up.
extern "C" {
[[gnu::section(".CRT$XLF")]] extern const PIMAGE_TLS_CALLBACK g_thread_start_wait_callback;
const PIMAGE_TLS_CALLBACK g_thread_start_wait_callback = OnThreadEvent;
}

void WaitForThreadsStillStarting(unsigned limit_ms) {
  const ULONGLONG end = GetTickCount64() + limit_ms;
  while (AThreadIsStillStarting() && GetTickCount64() < end) Sleep(1);
}
