#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/message_queue.h"

// POSIX has no per-thread message queue; this is one of our own. A registry
// maps thread ids to queues so that other threads can post; the owning
// thread's registration removes itself when the thread ends.

namespace {

struct Queue {
  std::mutex mutex;
  std::deque<ThreadMessage> messages;
  // The monitor looks at its queue after every byte it reads and finds it
  // empty nearly always: the count lets that look skip the lock.
  std::atomic<std::size_t> pending{0};
};

struct Registry {
  std::mutex mutex;
  std::map<std::thread::id, std::shared_ptr<Queue>> queues;
};

Registry& TheRegistry() {
  // Never destroyed: threads may end (and unregister) during process exit.
  static Registry* const registry = new Registry;
  return *registry;
}

class Registration {
 public:
  Registration() : queue_(std::make_shared<Queue>()) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.queues[std::this_thread::get_id()] = queue_;
  }
  ~Registration() {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.queues.erase(std::this_thread::get_id());
  }
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

  Queue& queue() { return *queue_; }

 private:
  std::shared_ptr<Queue> queue_;
};

Queue& OwnQueue() {
  thread_local Registration registration;
  return registration.queue();
}

}  // namespace

void EnsureThreadMessageQueue() { OwnQueue(); }

bool PutThreadMessage(std::thread::id thread, const ThreadMessage& message) {
  std::shared_ptr<Queue> queue;
  {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.queues.find(thread);
    if (found == registry.queues.end()) return false;
    queue = found->second;
  }
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->messages.push_back(message);
  queue->pending.fetch_add(1, std::memory_order_release);
  return true;
}

bool ThreadMessagesPending() { return OwnQueue().pending.load(std::memory_order_acquire) != 0; }

std::optional<ThreadMessage> TakeThreadMessage() {
  Queue& queue = OwnQueue();
  // A message posted while we look is taken by the next call.
  if (queue.pending.load(std::memory_order_acquire) == 0) return std::nullopt;
  std::lock_guard<std::mutex> lock(queue.mutex);
  if (queue.messages.empty()) return std::nullopt;
  ThreadMessage message = queue.messages.front();
  queue.messages.pop_front();
  queue.pending.fetch_sub(1, std::memory_order_relaxed);
  return message;
}
