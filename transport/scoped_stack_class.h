#pragma once

// Chooses the stack class that the next first transport component
// instantiates, for as long as the guard lives, and puts the previous choice
// back when it ends: a test that installs a failing stack leaves the next test
// the stack it found.
//
// Changing the class does not touch a stack that already exists; the guard is
// meant for a time when no transport component lives.

#include "transport/socket_stack.h"

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
