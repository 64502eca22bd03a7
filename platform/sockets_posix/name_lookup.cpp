// Host and service lookups. Windows hands out records that belong to the
// calling thread; so do we, built with the thread-safe getaddrinfo,
// getnameinfo and getserv*_r, in the Windows record layouts.

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/libc_calls.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

constexpr int kHostNameSize = 256;  // the longest host name POSIX allows, with its NUL

// The calling thread's host record and the storage its pointers refer to.
struct HostRecord {
  std::string name;
  std::vector<std::string> aliases;
  std::vector<std::array<char, 4>> addresses;
  std::vector<char*> alias_list;
  std::vector<char*> address_list;
  ws::HostEnt entry{};
};

thread_local HostRecord host_record;

// Points the record's lists at its storage, each list ending in null.
ws::HostEnt* Publish(HostRecord& record) {
  record.alias_list.clear();
  for (std::string& alias : record.aliases) record.alias_list.push_back(alias.data());
  record.alias_list.push_back(nullptr);
  record.address_list.clear();
  for (auto& address : record.addresses) record.address_list.push_back(address.data());
  record.address_list.push_back(nullptr);
  record.entry.h_name = record.name.data();
  record.entry.h_aliases = record.alias_list.data();
  record.entry.h_addrtype = ws::kAfInet;
  record.entry.h_length = 4;
  record.entry.h_addr_list = record.address_list.data();
  return &record.entry;
}

ws::HostEnt* FailHost(int code) {
  Fail(code);
  return nullptr;
}

bool LocalHostName(std::string* name) {
  char local[kHostNameSize];
  if (Libc().gethostname(local, sizeof local) < 0) return false;
  local[sizeof local - 1] = '\0';
  *name = local;
  return true;
}

ws::HostEnt* LookUpName(const char* name) {
  // Windows answers a null or empty name with the local host.
  std::string query = name != nullptr ? name : "";
  if (query.empty() && !LocalHostName(&query)) return FailHost(WsaErrorFromErrno(errno));
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
  hints.ai_flags = AI_CANONNAME;
  addrinfo* found = nullptr;
  int result = getaddrinfo(query.c_str(), nullptr, &hints, &found);
  if (result != 0) return FailHost(WsaErrorFromResolver(result, errno));
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(found, freeaddrinfo);

  HostRecord& record = host_record;
  record.name = found->ai_canonname != nullptr ? found->ai_canonname : query;
  record.aliases.clear();
  if (record.name != query) record.aliases.push_back(query);
  record.addresses.clear();
  for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
    if (info->ai_family != AF_INET || info->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in address;
    std::memcpy(&address, info->ai_addr, sizeof address);
    std::array<char, 4> bytes;
    std::memcpy(bytes.data(), &address.sin_addr.s_addr, bytes.size());
    bool seen = false;
    for (const auto& known : record.addresses) seen = seen || known == bytes;
    if (!seen) record.addresses.push_back(bytes);
  }
  if (record.addresses.empty()) return FailHost(ws::kWsaNoData);
  return Publish(record);
}

ws::HostEnt* LookUpAddress(const char* addr, int len, int type) {
  if (addr == nullptr) return FailHost(kWsaEFault);
  if (type != ws::kAfInet) return FailHost(kWsaEAfNoSupport);
  if (len < 4) return FailHost(kWsaEFault);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  std::memcpy(&address.sin_addr.s_addr, addr, 4);
  char name[NI_MAXHOST];
  int result = getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name,
                           sizeof name, nullptr, 0, NI_NAMEREQD);
  if (result != 0) return FailHost(WsaErrorFromResolver(result, errno));
  HostRecord& record = host_record;
  record.name = name;
  record.aliases.clear();
  record.addresses.assign(1, {addr[0], addr[1], addr[2], addr[3]});
  return Publish(record);
}

// The calling thread's service record; the system's lookup fills `buffer`,
// which the record's pointers then refer to.
struct ServiceRecord {
  std::vector<char> buffer = std::vector<char>(1024);
  servent system{};
  ws::ServEnt entry{};
};

thread_local ServiceRecord service_record;

template <typename Lookup>
ws::ServEnt* FindService(Lookup lookup) {
  ServiceRecord& record = service_record;
  for (;;) {
    servent* found = nullptr;
    int result = lookup(&record.system, record.buffer.data(), record.buffer.size(), &found);
    if (result == ERANGE && record.buffer.size() < (1U << 20)) {
      record.buffer.resize(record.buffer.size() * 2);
      continue;
    }
    if (result != 0 && result != ENOENT) {
      Fail(WsaErrorFromErrno(result));
      return nullptr;
    }
    if (found == nullptr) {
      Fail(ws::kWsaNoData);  // "the requested name is valid, but no data was found"
      return nullptr;
    }
    record.entry.s_name = found->s_name;
    record.entry.s_aliases = found->s_aliases;
    record.entry.s_port = static_cast<std::int16_t>(static_cast<std::uint16_t>(found->s_port));
    record.entry.s_proto = found->s_proto;
    return &record.entry;
  }
}

}  // namespace

ws::HostEnt* GetHostByName(const char* name) {
  try {
    return LookUpName(name);
  } catch (const std::bad_alloc&) {
    return FailHost(kWsaENoBufs);
  }
}

ws::HostEnt* GetHostByAddr(const char* addr, int len, int type) {
  try {
    return LookUpAddress(addr, len, type);
  } catch (const std::bad_alloc&) {
    return FailHost(kWsaENoBufs);
  }
}

int GetHostName(char* name, int namelen) {
  if (name == nullptr || namelen <= 0) return Fail(kWsaEFault);
  char local[kHostNameSize];
  if (Libc().gethostname(local, sizeof local) < 0) return FailWithErrno();
  local[sizeof local - 1] = '\0';
  std::size_t length = std::strlen(local);
  // Windows fails rather than cut the name short.
  if (length + 1 > static_cast<std::size_t>(namelen)) return Fail(kWsaEFault);
  std::memcpy(name, local, length + 1);
  return 0;
}

ws::ServEnt* GetServByName(const char* name, const char* proto) {
  if (name == nullptr) {
    Fail(kWsaEFault);
    return nullptr;
  }
  try {
    return FindService([&](servent* result, char* buffer, std::size_t size, servent** found) {
      return getservbyname_r(name, proto, result, buffer, size, found);
    });
  } catch (const std::bad_alloc&) {
    Fail(kWsaENoBufs);
    return nullptr;
  }
}

ws::ServEnt* GetServByPort(int port, const char* proto) {
  // The port arrives in network order in the low 16 bits, as the system wants it.
  int network_port = static_cast<std::uint16_t>(port);
  try {
    return FindService([&](servent* result, char* buffer, std::size_t size, servent** found) {
      return getservbyport_r(network_port, proto, result, buffer, size, found);
    });
  } catch (const std::bad_alloc&) {
    Fail(kWsaENoBufs);
    return nullptr;
  }
}

}  // namespace wsposix
