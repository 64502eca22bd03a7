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
#include "transport/sockets_binding_system.h"

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

}  // namespace sockets_binding
