#include "transport/sockets_library_stack.h"

#include <atomic>
#include <cstring>

#include "runtime/runtime_errors.h"
#include "transport/sockets_binding.h"
#include "transport/transport_errors.h"

using sockets_binding::Bind;
using sockets_binding::Entry;

namespace {

std::atomic<bool> g_sockets_started{false};

TIdIPv4Bytes BytesOf(std::uint32_t network_order) {
  TIdIPv4Bytes bytes;
  std::memcpy(bytes.data(), &network_order, 4);
  return bytes;
}

void FillSet(ws::FdSet* set, const TIdSocketList* list) {
  set->fd_count = 0;
  if (list == nullptr) return;
  for (ws::Socket s : *list) set->fd_array[set->fd_count++] = s;
}

void ReadSet(const ws::FdSet& set, TIdSocketList* list) {
  if (list == nullptr) return;
  list->assign(set.fd_array, set.fd_array + set.fd_count);
}

}  // namespace

bool SocketsStarted() { return g_sockets_started.load(std::memory_order_acquire); }

TIdStackWindows::TIdStackWindows() {
  if (!g_sockets_started.load(std::memory_order_acquire)) {
    ws::WsaData data{};
    if (sockets_binding::StartSocketsLibrary(0x0202, &data) != 0) {
      throw EIdStackInitializationFailed();
    }
    g_sockets_started.store(true, std::memory_order_release);
  }
}

void TIdStackWindows::FillLocalAddressList() {
  // Callable on its own, before anything asked for the list: the list is
  // made on first use.
  if (local_addresses_ == nullptr) local_addresses_ = std::make_unique<std::vector<std::string>>();
  local_addresses_->clear();
  std::string name = SockHostName();
  ws::HostEnt* host = Bind<ws::GetHostByNameFn>(Entry::gethostbyname)(name.c_str());
  if (host == nullptr) CheckSocketResult(ws::kSocketError);
  for (char** entry = host->h_addr_list; entry != nullptr && *entry != nullptr; ++entry) {
    std::uint32_t address;
    std::memcpy(&address, *entry, 4);
    local_addresses_->push_back(FormatAddressText(BytesOf(address)));
  }
}

std::string TIdStackWindows::FirstLocalAddress() {
  const std::vector<std::string>& addresses = LocalAddressList();
  // A host without any address: an error of the stack's own kind, which the
  // callers' handlers take, rather than an index error that none of them do.
  if (addresses.empty()) RaiseSocketFailure(ws::kWsaNoData);
  return addresses.front();
}

const std::vector<std::string>& TIdStackWindows::LocalAddressList() {
  FillLocalAddressList();
  return *local_addresses_;
}

ws::SockAddrIn TIdStackWindows::MakeAddress(int family, const TIdIPv4Bytes& ip, int port) {
  ws::SockAddrIn address{};
  address.sin_family = static_cast<std::int16_t>(family);
  address.sin_port = SockHostToNet16(static_cast<std::uint16_t>(port));
  std::memcpy(&address.sin_addr.s_addr, ip.data(), 4);
  return address;
}

void TIdStackWindows::ReadAddress(const ws::SockAddrIn& address, int* family, int* port,
                                  std::string* ip) {
  if (family != nullptr) *family = address.sin_family;
  if (port != nullptr) *port = SockNetToHost16(address.sin_port);
  if (ip != nullptr) *ip = FormatAddressText(BytesOf(address.sin_addr.s_addr));
}

ws::Socket TIdStackWindows::SockAccept(ws::Socket s, std::string* peer_ip, int* peer_port) {
  ws::SockAddrIn address{};
  int length = sizeof address;
  ws::Socket result =
      Bind<ws::AcceptFn>(Entry::accept)(s, reinterpret_cast<ws::SockAddr*>(&address), &length);
  ReadAddress(address, nullptr, peer_port, peer_ip);
  return result;
}

int TIdStackWindows::SockBind(ws::Socket s, int family, const std::string& ip, int port) {
  // Only a bind takes an empty address as "any local address"; a connect or
  // a datagram to an empty address is an error, not a trip to 0.0.0.0 (which
  // some systems quietly take for this host).
  ws::SockAddrIn address =
      MakeAddress(family, ip.empty() ? TIdIPv4Bytes{} : TextToAddress(ip), port);
  return Bind<ws::BindFn>(Entry::bind)(s, reinterpret_cast<const ws::SockAddr*>(&address),
                                       sizeof address);
}

int TIdStackWindows::SockClose(ws::Socket s) {
  return Bind<ws::CloseSocketFn>(Entry::closesocket)(s);
}

int TIdStackWindows::SockConnect(ws::Socket s, int family, const std::string& ip, int port) {
  ws::SockAddrIn address = MakeAddress(family, TextToAddress(ip), port);
  return Bind<ws::ConnectFn>(Entry::connect)(s, reinterpret_cast<const ws::SockAddr*>(&address),
                                             sizeof address);
}

std::string TIdStackWindows::SockLookupHost(const std::string& host) {
  ws::HostEnt* entry = Bind<ws::GetHostByNameFn>(Entry::gethostbyname)(host.c_str());
  if (entry == nullptr) CheckSocketResult(ws::kSocketError);
  if (entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    // The name is known but has no address: the lookup itself succeeded, so
    // the library's last error says nothing; report "no address".
    RaiseSocketFailure(ws::kWsaNoData);
  }
  std::uint32_t address;
  std::memcpy(&address, entry->h_addr_list[0], 4);
  return FormatAddressText(BytesOf(address));
}

std::string TIdStackWindows::SockHostName() {
  char name[250] = {};
  Bind<ws::GetHostNameFn>(Entry::gethostname)(name, sizeof name - 1);
  return std::string(name, strnlen(name, sizeof name));
}

std::string TIdStackWindows::SockLookupAddress(const std::string& ip) {
  std::uint32_t address = Bind<ws::InetAddrFn>(Entry::inet_addr)(ip.c_str());
  ws::HostEnt* entry = Bind<ws::GetHostByAddrFn>(Entry::gethostbyaddr)(
      reinterpret_cast<const char*>(&address), 4, ws::kAfInet);
  if (entry == nullptr) CheckSocketResult(ws::kSocketError);
  return entry->h_name;
}

int TIdStackWindows::SockServicePort(const std::string& service) {
  ws::ServEnt* entry = Bind<ws::GetServByNameFn>(Entry::getservbyname)(service.c_str(), nullptr);
  if (entry != nullptr) return SockNetToHost16(static_cast<std::uint16_t>(entry->s_port));
  try {
    return StrToInt(service);
  } catch (const EConvertError&) {
    throw EIdInvalidServiceName(service + " is not a valid service.");
  }
}

std::vector<std::string> TIdStackWindows::SockPortServices(int port) {
  std::vector<std::string> names;
  ws::ServEnt* entry = Bind<ws::GetServByPortFn>(Entry::getservbyport)(
      SockHostToNet16(static_cast<std::uint16_t>(port)), nullptr);
  if (entry == nullptr) return names;
  names.emplace_back(entry->s_name);
  for (char** alias = entry->s_aliases; alias != nullptr && *alias != nullptr; ++alias) {
    names.emplace_back(*alias);
  }
  return names;
}

std::uint16_t TIdStackWindows::SockHostToNet16(std::uint16_t value) {
  return Bind<ws::Htons16Fn>(Entry::htons)(value);
}

int TIdStackWindows::SockListen(ws::Socket s, int backlog) {
  return Bind<ws::ListenFn>(Entry::listen)(s, backlog);
}

std::uint16_t TIdStackWindows::SockNetToHost16(std::uint16_t value) {
  return Bind<ws::Htons16Fn>(Entry::ntohs)(value);
}

std::uint32_t TIdStackWindows::SockHostToNet32(std::uint32_t value) {
  return Bind<ws::Htonl32Fn>(Entry::htonl)(value);
}

std::uint32_t TIdStackWindows::SockNetToHost32(std::uint32_t value) {
  return Bind<ws::Htonl32Fn>(Entry::ntohl)(value);
}

int TIdStackWindows::SockReceive(ws::Socket s, void* buffer, int length, int flags) {
  return Bind<ws::RecvFn>(Entry::recv)(s, static_cast<char*>(buffer), length, flags);
}

int TIdStackWindows::SockReceiveFrom(ws::Socket s, void* buffer, int length, int flags,
                                     std::string* sender_ip, int* sender_port) {
  ws::SockAddrIn address{};
  int address_length = sizeof address;
  int result = Bind<ws::RecvFromFn>(Entry::recvfrom)(s, static_cast<char*>(buffer), length, flags,
                                                     reinterpret_cast<ws::SockAddr*>(&address),
                                                     &address_length);
  ReadAddress(address, nullptr, sender_port, sender_ip);
  return result;
}

int TIdStackWindows::SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                int timeout_ms) {
  for (const TIdSocketList* list : {read, write, error}) {
    if (list != nullptr && list->size() > static_cast<std::size_t>(ws::kFdSetSize)) {
      throw EIdStackSetSizeExceeded();
    }
  }
  ws::FdSet read_set, write_set, error_set;
  FillSet(&read_set, read);
  FillSet(&write_set, write);
  FillSet(&error_set, error);
  ws::TimeVal time_value{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  // -2 waits without limit; other negative values are outside the contract
  // and wait without limit too rather than pass a negative time to select.
  const ws::TimeVal* limit = timeout_ms < 0 ? nullptr : &time_value;
  int result = Bind<ws::SelectFn>(Entry::select)(0, &read_set, &write_set, &error_set, limit);
  ReadSet(read_set, read);
  ReadSet(write_set, write);
  ReadSet(error_set, error);
  return result;
}

int TIdStackWindows::SockSend(ws::Socket s, const void* buffer, int length, int flags) {
  return Bind<ws::SendFn>(Entry::send)(s, static_cast<const char*>(buffer), length, flags);
}

int TIdStackWindows::SockSendTo(ws::Socket s, const void* buffer, int length, int flags,
                                const std::string& ip, int port) {
  ws::SockAddrIn address = MakeAddress(ws::kAfInet, TextToAddress(ip), port);
  return Bind<ws::SendToFn>(Entry::sendto)(s, static_cast<const char*>(buffer), length, flags,
                                           reinterpret_cast<const ws::SockAddr*>(&address),
                                           sizeof address);
}

int TIdStackWindows::SockSetOption(ws::Socket s, int level, int option, const void* value,
                                   int length) {
  return Bind<ws::SetSockOptFn>(Entry::setsockopt)(s, level, option,
                                                   static_cast<const char*>(value), length);
}

ws::Socket TIdStackWindows::SockCreate(int family, int type, int protocol) {
  return Bind<ws::SocketFn>(Entry::socket)(family, type, protocol);
}

int TIdStackWindows::SockShutdown(ws::Socket s, int how) {
  return Bind<ws::ShutdownFn>(Entry::shutdown)(s, how);
}

std::string TIdStackWindows::SocketErrorText(int code) {
  if (code == ws::kWsaHostNotFound) {
    return "Socket Error # " + std::to_string(code) + "\r\nHost not found.";
  }
  return TIdStack::SocketErrorText(code);
}

int TIdStackWindows::SockLastError() {
  return Bind<ws::WSAGetLastErrorFn>(Entry::WSAGetLastError)();
}

void TIdStackWindows::SockPeerName(ws::Socket s, int* family, int* port, std::string* ip) {
  ws::SockAddrIn address{};
  int length = sizeof address;
  CheckSocketResult(Bind<ws::GetPeerNameFn>(Entry::getpeername)(
      s, reinterpret_cast<ws::SockAddr*>(&address), &length));
  ReadAddress(address, family, port, ip);
}

void TIdStackWindows::SockLocalName(ws::Socket s, int* family, int* port, std::string* ip) {
  ws::SockAddrIn address{};
  int length = sizeof address;
  CheckSocketResult(Bind<ws::GetSockNameFn>(Entry::getsockname)(
      s, reinterpret_cast<ws::SockAddr*>(&address), &length));
  ReadAddress(address, family, port, ip);
}

int TIdStackWindows::SockGetOption(ws::Socket s, int level, int option, void* value, int* length) {
  return Bind<ws::GetSockOptFn>(Entry::getsockopt)(s, level, option, static_cast<char*>(value),
                                                   length);
}

std::string TIdStackWindows::FormatAddressText(const TIdIPv4Bytes& bytes) {
  return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
         std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

TIdIPv4Bytes TIdStackWindows::ParseAddressText(const std::string& text) {
  TIdIPv4Bytes bytes{};
  std::size_t start = 0;
  for (std::uint8_t& byte : bytes) {
    std::string piece;
    if (start <= text.size()) {
      std::size_t dot = text.find('.', start);
      piece = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
      start = dot == std::string::npos ? text.size() + 1 : dot + 1;
    }
    byte = static_cast<std::uint8_t>(StrToInt(piece) & 0xFF);
  }
  return bytes;
}
