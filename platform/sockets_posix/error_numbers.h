#pragma once

// Windows Sockets error numbers and the one place where errno values and
// resolver results become them.

#include "platform/sockets_abi.h"

namespace wsposix {

// Numbers the library produces itself, besides those in sockets_abi.h.
inline constexpr int kWsaEFault = 10014;
inline constexpr int kWsaEInval = 10022;
inline constexpr int kWsaEInProgress = 10036;
inline constexpr int kWsaEAlready = 10037;
inline constexpr int kWsaENoProtoOpt = 10042;
inline constexpr int kWsaESocktNoSupport = 10044;
inline constexpr int kWsaEOpNotSupp = 10045;
inline constexpr int kWsaEAfNoSupport = 10047;
inline constexpr int kWsaENoBufs = 10055;
inline constexpr int kWsaVerNotSupported = 10092;
/// "A system call that should never fail has failed": the answer for an errno
/// value that has no Windows Sockets counterpart.
inline constexpr int kWsaSysCallFailure = 10107;

/// The Windows Sockets number for an errno value; kWsaSysCallFailure for a
/// value without one. 0 stays 0, so a pending-error option can pass through.
int WsaErrorFromErrno(int errno_value);

/// The Windows Sockets number for a failed getaddrinfo or getnameinfo result
/// (an EAI_ value); `errno_value` is consulted for EAI_SYSTEM.
int WsaErrorFromResolver(int eai_value, int errno_value);

/// Stores `code` as the calling thread's last error and returns -1
/// (kSocketError), so that a failing call can end with `return Fail(code);`.
int Fail(int code);

/// Fail() with the translation of the current errno.
int FailWithErrno();

}  // namespace wsposix
