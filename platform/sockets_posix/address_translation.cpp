#include "platform/sockets_posix/address_translation.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <bit>
#include <cstdio>
#include <cstring>

#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {

namespace {
constexpr int kAddressLength = static_cast<int>(sizeof(ws::SockAddrIn));
}  // namespace

int ReadAddress(const ws::SockAddr* name, int length, sockaddr_in* out) {
  if (name == nullptr || length < kAddressLength) return kWsaEFault;
  ws::SockAddrIn in;
  std::memcpy(&in, name, sizeof in);
  if (in.sin_family != ws::kAfInet) return kWsaEAfNoSupport;
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = in.sin_port;
  out->sin_addr.s_addr = in.sin_addr.s_addr;
  return 0;
}

int CheckAddressBuffer(const ws::SockAddr* name, const int* length) {
  if (name == nullptr) return 0;
  if (length == nullptr || *length < kAddressLength) return kWsaEFault;
  return 0;
}

int WriteAddress(const sockaddr_storage& address, socklen_t address_length, ws::SockAddr* name,
                 int* length) {
  if (name == nullptr) return 0;
  if (address.ss_family != AF_INET || address_length < sizeof(sockaddr_in)) {
    return kWsaEAfNoSupport;
  }
  sockaddr_in system;
  std::memcpy(&system, &address, sizeof system);
  ws::SockAddrIn out{};
  out.sin_family = ws::kAfInet;
  out.sin_port = system.sin_port;
  out.sin_addr.s_addr = system.sin_addr.s_addr;
  std::memcpy(name, &out, sizeof out);
  *length = kAddressLength;
  return 0;
}

std::uint16_t HostToNet16(std::uint16_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

std::uint32_t HostToNet32(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::big) return value;
  return (value >> 24) | ((value >> 8) & 0xFF00U) | ((value << 8) & 0xFF0000U) | (value << 24);
}

std::uint32_t InetAddr(const char* text) {
  // inet_aton accepts the same forms as Windows: one to four parts, each
  // decimal, octal or hexadecimal. Anything else is INADDR_NONE, which is also
  // the honest answer for "255.255.255.255", as on Windows.
  in_addr address;
  if (text == nullptr || inet_aton(text, &address) == 0) return INADDR_NONE;
  return address.s_addr;
}

char* InetNtoa(ws::InAddr address) {
  thread_local char text[sizeof "255.255.255.255"];
  unsigned char bytes[4];
  std::memcpy(bytes, &address.s_addr, sizeof bytes);  // network order: first number first
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
  return text;
}

}  // namespace wsposix
