#include "transport/transport_module.h"

#include "transport/process_stack.h"
#include "transport/sockets_binding.h"
#include "transport/sockets_library_stack.h"

void StartTransportModule() {
  sockets_binding::ResetEntryPoints();
  SocketStackClass = DefaultSocketStackClass();
}

void StopTransportModule() {
  if (SocketsStarted() && sockets_binding::IsSocketsLibraryLoaded()) {
    sockets_binding::Bind<ws::WSACleanupFn>(sockets_binding::Entry::WSACleanup)();
  }
  sockets_binding::UnloadSocketsLibrary();
}
