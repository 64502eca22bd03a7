#pragma once

// Windows IPv4 socket addresses in and out of the system's sockaddr_in. The
// two records happen to share their layout on Linux; they are still copied
// field by field, so that nothing depends on that.

#include <netinet/in.h>

#include "platform/sockets_abi.h"

namespace wsposix {

/// Reads the caller's address of `length` bytes. Returns 0, kWsaEFault for a
/// null or short record, or kWsaEAfNoSupport for a family other than IPv4.
int ReadAddress(const ws::SockAddr* name, int length, sockaddr_in* out);

/// Checks, before the call that produces an address, that the caller's
/// buffer can take one. A null `name` asks for no address and is fine.
/// Returns 0 or kWsaEFault.
int CheckAddressBuffer(const ws::SockAddr* name, const int* length);

/// Writes `address` (`address_length` bytes from the system) into the
/// caller's buffer, which CheckAddressBuffer() has accepted, and sets
/// `*length` to 16. An address of another family than IPv4 gives
/// kWsaEAfNoSupport; otherwise returns 0.
int WriteAddress(const sockaddr_storage& address, socklen_t address_length, ws::SockAddr* name,
                 int* length);

}  // namespace wsposix
