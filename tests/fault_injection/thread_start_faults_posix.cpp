// The thread start seam of the fault-injection sweeps on POSIX systems: this
// test program's own pthread_create stands in front of the C library's (the
// C++ library starts std::thread through it), asks the plan first, and fails
// as the system does when it has no room for another thread.

#include <dlfcn.h>
#include <pthread.h>

#include <cerrno>

#include "tests/fault_injection/call_faults.h"

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
  using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  static const auto next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
  if (CallFaults::Fails(CallKind::kThreadStart)) return EAGAIN;
  return next(thread, attributes, start, argument);
}
