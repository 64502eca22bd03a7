#include "transport/sockets_binding.h"

#include <array>
#include <memory>
#include <mutex>

#include "platform/dynamic_library.h"
#include "transport/transport_errors.h"

namespace sockets_binding {
namespace {

constexpr std::array<const char*, kEntryCount> kEntryNames = {
    "WSACleanup", "accept", "bind", "closesocket", "connect", "ioctlsocket", "getpeername",
    "getsockname", "getsockopt", "htonl", "htons", "inet_addr", "inet_ntoa", "listen", "ntohl",
    "ntohs", "recv", "recvfrom", "select", "send", "sendto", "setsockopt", "shutdown", "socket",
    "gethostbyaddr", "gethostbyname", "gethostname", "getservbyport", "getservbyname",
    "getprotobynumber", "getprotobyname", "WSASetLastError", "WSAGetLastError", "WSAIsBlocking",
    "WSAUnhookBlockingHook", "WSASetBlockingHook", "WSACancelBlockingCall", "WSAAsyncGetServByName",
    "WSAAsyncGetServByPort", "WSAAsyncGetProtoByName", "WSAAsyncGetProtoByNumber",
    "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSACancelAsyncRequest", "WSAAsyncSelect",
    "__WSAFDIsSet", "WSAAccept", "WSACloseEvent", "WSAConnect", "WSACreateEvent",
    "WSADuplicateSocketA", "WSADuplicateSocketW", "WSAEnumNetworkEvents", "WSAEnumProtocolsA",
    "WSAEnumProtocolsW", "WSAEventSelect", "WSAGetOverlappedResult", "WSAGetQosByName", "WSAHtonl",
    "WSAHtons", "WSAIoctl", "WSAJoinLeaf", "WSANtohl", "WSANtohs", "WSARecv", "WSARecvDisconnect",
    "WSARecvFrom", "WSAResetEvent", "WSASend", "WSASendDisconnect", "WSASendTo", "WSASetEvent",
    "WSASocketA", "WSASocketW", "WSAWaitForMultipleEvents", "WSAAddressToStringA",
    "WSAAddressToStringW", "WSAStringToAddressA", "WSAStringToAddressW", "WSALookupServiceBeginA",
    "WSALookupServiceBeginW", "WSALookupServiceNextA", "WSALookupServiceNextW",
    "WSALookupServiceEnd", "WSAInstallServiceClassA", "WSAInstallServiceClassW",
    "WSARemoveServiceClass", "WSAGetServiceClassInfoA", "WSAGetServiceClassInfoW",
    "WSAEnumNameSpaceProvidersA", "WSAEnumNameSpaceProvidersW", "WSAGetServiceClassNameByClassIdA",
    "WSAGetServiceClassNameByClassIdW", "WSASetServiceA", "WSASetServiceW",
    "WSAProviderConfigChange",
    // The unsuffixed names bind the library's "A" functions.
    "WSADuplicateSocketA", "WSAEnumProtocolsA", "WSASocketA", "WSAAddressToStringA",
    "WSAStringToAddressA", "WSALookupServiceBeginA", "WSALookupServiceNextA",
    "WSAInstallServiceClassA", "WSAGetServiceClassInfoA", "WSAEnumNameSpaceProvidersA",
    "WSAGetServiceClassNameByClassIdA", "WSASetServiceA", "TransmitFile", "AcceptEx",
    "GetAcceptExSockaddrs", "WSARecvEx"};

static_assert(kEntryNames[kEntryCount - 1] != nullptr, "the table lists every entry");

// A null target is the stub: the next call resolves the entry. Two threads
// that resolve the same entry at once store the same address, so no lock.
std::array<std::atomic<void*>, kEntryCount> g_targets{};
std::atomic<DynamicLibrary*> g_library{nullptr};

std::mutex g_file_name_mutex;
std::string g_file_name = DefaultSocketsLibraryPath();

// The error shows the library's file name, not the folder it was looked for
// in; with no file name at all (the executable's place unknown) it shows the
// library's usual name.
std::string BaseName(const std::string& file_name) {
  if (file_name.empty()) return kSocketsLibraryFileName;
  std::size_t separator = file_name.find_last_of("/\\");
  return separator == std::string::npos ? file_name : file_name.substr(separator + 1);
}

[[noreturn]] void RaiseCallError(const char* name, std::int32_t code) {
  throw EIdWS2StubError(std::string("Error on call Winsock2 library function ") + name, code);
}

void* ResolveEntryPoint(int index) {
  DynamicLibrary* library = g_library.load(std::memory_order_acquire);
  if (library == nullptr) RaiseCallError(kEntryNames[index], ws::kWsaNotInitialised);
  void* address = library->Symbol(kEntryNames[index]);
  // A function the library does not export would be a jump to nowhere;
  // report it like a call into an unloaded library, without a system code.
  if (address == nullptr) RaiseCallError(kEntryNames[index], 0);
  g_targets[index].store(address, std::memory_order_release);
  return address;
}

}  // namespace

const char* EntryName(int index) { return kEntryNames.at(index); }

void* Target(Entry entry) {
  int index = static_cast<int>(entry);
  void* target = g_targets[index].load(std::memory_order_acquire);
  return target != nullptr ? target : ResolveEntryPoint(index);
}

void ResetEntryPoints() {
  for (auto& target : g_targets) target.store(nullptr, std::memory_order_release);
  g_library.store(nullptr, std::memory_order_release);
}

int StartSocketsLibrary(std::uint16_t version, ws::WsaData* data) {
  if (g_library.load(std::memory_order_acquire) != nullptr) return 0;
  std::string file_name = SocketsLibraryFileName();
  std::int32_t error_code = kFileNotFoundCode;
  // An empty name would make the loader hand back the program itself.
  std::unique_ptr<DynamicLibrary> library =
      file_name.empty() ? nullptr : DynamicLibrary::Load(file_name, &error_code);
  if (library == nullptr) {
    throw EIdWS2StubError("Error on loading Winsock2 library (" + BaseName(file_name) + ")",
                          error_code);
  }
  auto startup = reinterpret_cast<ws::WSAStartupFn>(library->Symbol("WSAStartup"));
  if (startup == nullptr) RaiseCallError("WSAStartup", 0);  // the library is released here
  DynamicLibrary* expected = nullptr;
  if (!g_library.compare_exchange_strong(expected, library.get(), std::memory_order_acq_rel)) {
    return 0;  // another thread loaded it first; ours is released
  }
  static_cast<void>(library.release());  // g_library owns it now
  return startup(version, data);
}

void UnloadSocketsLibrary() {
  DynamicLibrary* library = g_library.exchange(nullptr, std::memory_order_acq_rel);
  if (library != nullptr) {
    delete library;
    ResetEntryPoints();
  }
}

bool IsSocketsLibraryLoaded() { return g_library.load(std::memory_order_acquire) != nullptr; }

void SetSocketsLibraryFileName(const std::string& file_name) {
  std::lock_guard<std::mutex> lock(g_file_name_mutex);
  g_file_name = file_name;
}

std::string SocketsLibraryFileName() {
  std::lock_guard<std::mutex> lock(g_file_name_mutex);
  return g_file_name;
}

}  // namespace sockets_binding
