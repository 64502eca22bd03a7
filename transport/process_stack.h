#pragma once

// The process's socket stack: which stack class it uses, and the lifetime of
// the one stack object, which the transport components share. The first
// component creates the stack, the last one frees it.
//
// The stack interface (socket_stack.h) and its implementations know nothing
// of this choice; only this unit names the default class.

#include <memory>
#include <mutex>

#include "transport/socket_stack.h"

/// What the first transport component instantiates.
using TIdStackClass = std::unique_ptr<TIdStack> (*)();

template <typename Stack>
std::unique_ptr<TIdStack> StackClassOf() {
  return std::make_unique<Stack>();
}

// Process-wide state. StackLock guards LiveComponentCount and the creation and
// freeing of SocketStack; the stack itself is used without a lock.
extern std::unique_ptr<TIdStack> SocketStack;
/// Starts as the default class; tests and tools choose their own through it.
extern TIdStackClass SocketStackClass;
extern int LiveComponentCount;
extern std::mutex StackLock;

/// The stack over the platform's sockets library, which the process uses
/// unless told otherwise.
TIdStackClass DefaultSocketStackClass();

std::unique_ptr<TIdStack> MakeSocketStack();

/// The lifetime steps run by every transport component's construction and
/// destruction: the first component creates the stack, the last frees it.
/// On a failed creation the count is left as it was and the error raised.
void RegisterTransportComponent();
void UnregisterTransportComponent();

// Chooses the stack class that the next first transport component
// instantiates, for as long as the guard lives, and puts the previous choice
// back when it ends: a test that installs a failing stack leaves the next test
// the stack it found.
//
// Changing the class does not touch a stack that already exists; the guard is
// meant for a time when no transport component lives.
class ScopedStackClass {
 public:
  explicit ScopedStackClass(TIdStackClass stack_class) : previous_(SocketStackClass) {
    SocketStackClass = stack_class;
  }
  ~ScopedStackClass() { SocketStackClass = previous_; }
  ScopedStackClass(const ScopedStackClass&) = delete;
  ScopedStackClass& operator=(const ScopedStackClass&) = delete;

 private:
  TIdStackClass previous_;
};
