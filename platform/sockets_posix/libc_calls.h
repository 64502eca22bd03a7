#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>

namespace wsposix {

/// The C library's own functions whose names this library also exports.
/// Code in this library calls them only through this table, never by name:
/// a by-name call could bind to our own export and recurse (see
/// ws2_32_exports.cpp). Functions we do not export are called directly.
struct LibcCalls {
  int (*socket)(int domain, int type, int protocol);
  int (*bind)(int fd, const sockaddr* address, socklen_t length);
  int (*connect)(int fd, const sockaddr* address, socklen_t length);
  int (*listen)(int fd, int backlog);
  ssize_t (*recv)(int fd, void* buffer, std::size_t length, int flags);
  ssize_t (*recvfrom)(int fd, void* buffer, std::size_t length, int flags, sockaddr* from,
                      socklen_t* from_length);
  ssize_t (*send)(int fd, const void* buffer, std::size_t length, int flags);
  ssize_t (*sendto)(int fd, const void* buffer, std::size_t length, int flags, const sockaddr* to,
                    socklen_t to_length);
  int (*shutdown)(int fd, int how);
  int (*setsockopt)(int fd, int level, int name, const void* value, socklen_t length);
  int (*getsockopt)(int fd, int level, int name, void* value, socklen_t* length);
  int (*getsockname)(int fd, sockaddr* address, socklen_t* length);
  int (*getpeername)(int fd, sockaddr* address, socklen_t* length);
  int (*gethostname)(char* name, std::size_t length);
};

/// The table, looked up in the C library on first use (thread-safe). A C
/// library without one of these functions cannot host this library at all:
/// the lookup then ends the process with a message on standard error.
const LibcCalls& Libc();

}  // namespace wsposix
