#include "platform/sockets_posix/libc_calls.h"

#include <dlfcn.h>
#include <gnu/lib-names.h>

#include <cstdio>
#include <cstdlib>

namespace wsposix {
namespace {

[[noreturn]] void Die(const char* what, const char* detail) {
  std::fprintf(stderr, "libws2_32: cannot reach the C library's %s: %s\n", what,
               detail != nullptr ? detail : "unknown reason");
  std::abort();
}

template <typename Function>
void Find(void* libc, const char* name, Function* slot) {
  // dlsym on libc's own handle searches libc and its dependencies only, so it
  // can never return our export of the same name.
  void* address = dlsym(libc, name);
  if (address == nullptr) Die(name, dlerror());
  *slot = reinterpret_cast<Function>(address);
}

LibcCalls Load() {
  // The C library is always loaded already; RTLD_NOLOAD only takes a handle
  // to it, and the addresses stay valid after the handle is released.
  void* libc = dlopen(LIBC_SO, RTLD_NOW | RTLD_NOLOAD);
  if (libc == nullptr) Die(LIBC_SO, dlerror());
  LibcCalls calls{};
  Find(libc, "socket", &calls.socket);
  Find(libc, "bind", &calls.bind);
  Find(libc, "connect", &calls.connect);
  Find(libc, "listen", &calls.listen);
  Find(libc, "recv", &calls.recv);
  Find(libc, "recvfrom", &calls.recvfrom);
  Find(libc, "send", &calls.send);
  Find(libc, "sendto", &calls.sendto);
  Find(libc, "shutdown", &calls.shutdown);
  Find(libc, "setsockopt", &calls.setsockopt);
  Find(libc, "getsockopt", &calls.getsockopt);
  Find(libc, "getsockname", &calls.getsockname);
  Find(libc, "getpeername", &calls.getpeername);
  Find(libc, "gethostname", &calls.gethostname);
  dlclose(libc);
  return calls;
}

}  // namespace

const LibcCalls& Libc() {
  static const LibcCalls calls = Load();
  return calls;
}

}  // namespace wsposix
