#include "transport/process_stack.h"

#include "transport/sockets_library_stack.h"

std::unique_ptr<TIdStack> SocketStack;
TIdStackClass SocketStackClass = &StackClassOf<TIdStackWindows>;
int LiveComponentCount = 0;
std::mutex StackLock;

TIdStackClass DefaultSocketStackClass() { return &StackClassOf<TIdStackWindows>; }

std::unique_ptr<TIdStack> MakeSocketStack() { return SocketStackClass(); }

void RegisterTransportComponent() {
  std::lock_guard<std::mutex> lock(StackLock);
  if (LiveComponentCount == 0) SocketStack = MakeSocketStack();  // may raise: count unchanged
  ++LiveComponentCount;
}

void UnregisterTransportComponent() {
  std::lock_guard<std::mutex> lock(StackLock);
  if (--LiveComponentCount == 0) SocketStack.reset();
}
