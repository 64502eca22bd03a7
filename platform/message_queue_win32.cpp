#include <windows.h>

#include <map>
#include <mutex>

#include "platform/message_queue.h"

// The system gives each thread its queue; what it lacks is a way from a
// std::thread::id to the system's thread id, which posting needs. Threads
// that made their queue here register the pair; the registration removes
// itself when the thread ends.

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::thread::id, DWORD> threads;
};

Registry& TheRegistry() {
  // Never destroyed: threads may end (and unregister) during process exit.
  static Registry* const registry = new Registry;
  return *registry;
}

class Registration {
 public:
  Registration() {
    // The first call of a message function makes the system create the
    // thread's queue; this one looks for a message no one sends.
    MSG ignored;
    PeekMessageA(&ignored, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.threads[std::this_thread::get_id()] = GetCurrentThreadId();
  }
  ~Registration() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.threads.erase(std::this_thread::get_id());
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;
};

void RegisterThisThread() { thread_local Registration registration; }

}  // namespace

void EnsureThreadMessageQueue() { RegisterThisThread(); }

bool PutThreadMessage(std::thread::id thread, const ThreadMessage& message) {
  DWORD system_id = 0;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.threads.find(thread);
    if (found == registry.threads.end()) return false;
    system_id = found->second;
  }
  return PostThreadMessageA(system_id, message.number, static_cast<WPARAM>(message.wparam),
                            static_cast<LPARAM>(message.lparam)) != FALSE;
}

bool ThreadMessagesPending() {
  RegisterThisThread();
  // The high word: the kinds of message now in the queue, sent ones included.
  // QS_ALLPOSTMESSAGE stays set until an unfiltered look has taken every
  // posted message, unlike QS_POSTMESSAGE, which any look clears.
  return HIWORD(GetQueueStatus(QS_ALLINPUT | QS_ALLPOSTMESSAGE)) != 0;
}

std::optional<ThreadMessage> TakeThreadMessage() {
  RegisterThisThread();
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return std::nullopt;
  // A message for a window goes to the window's procedure, translated
  // (keys to characters) first; the quit message belongs to the caller.
  if (message.message != WM_QUIT) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return ThreadMessage{message.message, static_cast<std::uintptr_t>(message.wParam),
                       static_cast<std::intptr_t>(message.lParam)};
}
