#pragma once

// Small socket helpers on loopback that the demo server and the test peers
// built on it (the end-to-end harness's scripted server, the tests' clients)
// share.

#include <cstddef>
#include <cstdint>

#include "platform/unique_fd_posix.h"

/// Sends all `size` bytes on the blocking socket `fd`, again after a signal
/// interrupts it; never raises SIGPIPE. False when the peer is gone.
bool SendAll(int fd, const char* data, std::size_t size);

/// A TCP socket connected to 127.0.0.1:`port`. `*error` gets 0, or the errno
/// of the failed connect (the socket is returned all the same, unconnected).
UniqueFd ConnectToLoopback(std::uint16_t port, int* error);
