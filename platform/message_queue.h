#pragma once

#include <cstdint>
#include <optional>
#include <thread>

/// A message for a thread's queue: a number and two parameters.
struct ThreadMessage {
  std::uint32_t number = 0;
  std::uintptr_t wparam = 0;
  std::intptr_t lparam = 0;
};

/// The quit message: asks a thread's message loop to end.
inline constexpr std::uint32_t kQuitMessage = 18;

/// Gives the calling thread its message queue, if it has none yet. The queue
/// lives until the thread ends; messages still in it then are discarded.
void EnsureThreadMessageQueue();

/// Appends a message to the queue of `thread`. Returns false, and posts
/// nothing, when that thread has no queue (never made one, or has ended).
/// Thread-safe: any thread may post to any thread.
bool PutThreadMessage(std::thread::id thread, const ThreadMessage& message);

/// True when the calling thread's queue may hold a message; false only when
/// TakeThreadMessage would now find nothing. Takes no lock.
bool ThreadMessagesPending();

/// Takes the oldest message of the calling thread's queue, without waiting:
/// nothing when the queue is empty. Gives the thread a queue if it had none.
/// Where messages can be addressed to windows (Windows), a message for a
/// window has been translated and handed to the window's procedure when it
/// is returned; the quit message never is.
std::optional<ThreadMessage> TakeThreadMessage();
