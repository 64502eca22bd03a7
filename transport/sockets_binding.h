#pragma once

// Run-time binding of the Windows Sockets library. The library is loaded by
// file name when the first socket stack starts it, and each function is
// looked up by name on its first call; until then (and again after the
// library is released) an entry points at nothing and calling it raises
// EIdWS2StubError instead of crashing.

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/sockets_abi.h"

namespace sockets_binding {

/// The entries of the binding table, in table order. The names are those the
/// library exports; the twelve unsuffixed names after WSAProviderConfigChange
/// bind the library's "A" functions.
enum class Entry : int {
  WSACleanup,
  accept,
  bind,
  closesocket,
  connect,
  ioctlsocket,
  getpeername,
  getsockname,
  getsockopt,
  htonl,
  htons,
  inet_addr,
  inet_ntoa,
  listen,
  ntohl,
  ntohs,
  recv,
  recvfrom,
  select,
  send,
  sendto,
  setsockopt,
  shutdown,
  socket,
  gethostbyaddr,
  gethostbyname,
  gethostname,
  getservbyport,
  getservbyname,
  getprotobynumber,
  getprotobyname,
  WSASetLastError,
  WSAGetLastError,
  kCount = 112,
};

inline constexpr int kEntryCount = static_cast<int>(Entry::kCount);

/// The exported name an entry is looked up by.
const char* EntryName(int index);

/// The function an entry is bound to, resolving it on first use. Raises
/// EIdWS2StubError when the library is not loaded or does not export it.
void* Target(Entry entry);

template <typename Fn>
Fn Bind(Entry entry) {
  return reinterpret_cast<Fn>(Target(entry));
}

/// Points every entry back at its stub and forgets the library handle
/// (without releasing it). Run once at process start-up.
void ResetEntryPoints();

/// Loads the library if it is not loaded yet and calls its WSAStartup with
/// `version`; returns WSAStartup's result (0 = started). When the library is
/// already loaded, returns 0 and calls nothing. Raises EIdWS2StubError when
/// the library cannot be loaded or has no WSAStartup.
int StartSocketsLibrary(std::uint16_t version, ws::WsaData* data);

/// Releases the library, if loaded, and resets every entry. Only one of
/// several concurrent callers releases it.
void UnloadSocketsLibrary();

bool IsSocketsLibraryLoaded();

/// The file the library is loaded from: at first DefaultSocketsLibraryPath().
/// A path is opened as it is, a bare name is searched for the system's way.
/// Tests point it elsewhere to make loading fail or to load another
/// implementation; set it only while the library is not loaded.
void SetSocketsLibraryFileName(const std::string& file_name);
std::string SocketsLibraryFileName();

// Defined per system (sockets_binding_posix.cpp, sockets_binding_win32.cpp):

/// The library's file name on this system, the one its load error shows.
extern const char* const kSocketsLibraryFileName;

/// The system's code for a library file that is not there: the code of the
/// load error when DefaultSocketsLibraryPath() is empty.
extern const std::int32_t kFileNotFoundCode;

/// Where the program loads the library from. On Windows the system's own
/// library by name; on POSIX systems our library by its absolute path, in
/// the program's private library folder, which lies at a fixed place
/// relative to the executable's own directory (so that an installed tree
/// can be moved as a whole). Neither the library search path nor a file of
/// the same name elsewhere can stand in for it. Empty when the system
/// cannot tell where the executable is.
std::string DefaultSocketsLibraryPath();

/// The text for a system code carried by the binding's errors: the
/// loader's codes and the sockets library's own "not started" code, which
/// the binding raises itself when a function is called while the library is
/// not loaded.
std::string SystemCodeText(std::int32_t code);

}  // namespace sockets_binding
