#pragma once

#include <unistd.h>

#include "platform/unique_fd.h"

/// A POSIX file descriptor (socket, pipe, terminal, eventfd) closed when it
/// goes out of scope: the one owner that POSIX code of every folder uses, so
/// that no error path leaks a descriptor.
using UniqueFd = BasicUniqueFd<&::close>;
