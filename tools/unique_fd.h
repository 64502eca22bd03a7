#pragma once

#include <unistd.h>

#include "platform/unique_fd.h"

/// A POSIX file descriptor closed when it goes out of scope. Used by the demo
/// server and the end-to-end harness, which both juggle listening sockets,
/// connections, pipes and terminals on every error path.
using UniqueFd = BasicUniqueFd<&::close>;
