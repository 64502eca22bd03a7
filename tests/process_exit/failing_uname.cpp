// Test support: a library to preload into a program so that its query of the
// operating system's version fails, as on a system whose version can't be
// read. Used to check how the program ends when a start-up step fails.

#include <cerrno>

struct utsname;

extern "C" __attribute__((visibility("default"))) int uname(struct utsname*) {
  errno = EFAULT;
  return -1;
}
