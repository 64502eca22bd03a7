// setsockopt and getsockopt: Windows option numbers and value layouts to the
// system's and back.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "platform/sockets_posix/error_numbers.h"
#include "platform/sockets_posix/libc_calls.h"
#include "platform/sockets_posix/socket_table.h"
#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

enum class Value {
  kInt,              // a 32-bit integer or BOOL, the same on both sides
  kBufferSize,       // an int that Linux doubles for its bookkeeping
  kLinger,           // ws::Linger {u16, u16} against struct linger {int, int}
  kMillis,           // a 32-bit millisecond count against struct timeval
  kSecondsAsMillis,  // Windows' seconds against the system's milliseconds
  kError,            // read only: a pending errno, reported in Windows numbering
  kType,             // read only: the socket type
  kReadOnlyInt,
};

struct Option {
  int ws_level;
  int ws_name;
  int level;
  int name;
  Value value;
};

constexpr Option kOptions[] = {
    {ws::kSolSocket, ws::kSoDebug, SOL_SOCKET, SO_DEBUG, Value::kInt},
    {ws::kSolSocket, ws::kSoAcceptConn, SOL_SOCKET, SO_ACCEPTCONN, Value::kReadOnlyInt},
    {ws::kSolSocket, ws::kSoReuseAddr, SOL_SOCKET, SO_REUSEADDR, Value::kInt},
    {ws::kSolSocket, ws::kSoKeepAlive, SOL_SOCKET, SO_KEEPALIVE, Value::kInt},
    {ws::kSolSocket, ws::kSoDontRoute, SOL_SOCKET, SO_DONTROUTE, Value::kInt},
    {ws::kSolSocket, ws::kSoBroadcast, SOL_SOCKET, SO_BROADCAST, Value::kInt},
    {ws::kSolSocket, ws::kSoLinger, SOL_SOCKET, SO_LINGER, Value::kLinger},
    {ws::kSolSocket, ws::kSoOobInline, SOL_SOCKET, SO_OOBINLINE, Value::kInt},
    {ws::kSolSocket, ws::kSoSndBuf, SOL_SOCKET, SO_SNDBUF, Value::kBufferSize},
    {ws::kSolSocket, ws::kSoRcvBuf, SOL_SOCKET, SO_RCVBUF, Value::kBufferSize},
    {ws::kSolSocket, ws::kSoSndTimeo, SOL_SOCKET, SO_SNDTIMEO, Value::kMillis},
    {ws::kSolSocket, ws::kSoRcvTimeo, SOL_SOCKET, SO_RCVTIMEO, Value::kMillis},
    {ws::kSolSocket, ws::kSoError, SOL_SOCKET, SO_ERROR, Value::kError},
    {ws::kSolSocket, ws::kSoType, SOL_SOCKET, SO_TYPE, Value::kType},
    {ws::kIpProtoTcp, ws::kTcpNoDelay, IPPROTO_TCP, TCP_NODELAY, Value::kInt},
    {ws::kIpProtoTcp, ws::kTcpKeepIdle, IPPROTO_TCP, TCP_KEEPIDLE, Value::kInt},
    {ws::kIpProtoTcp, ws::kTcpKeepIntvl, IPPROTO_TCP, TCP_KEEPINTVL, Value::kInt},
    {ws::kIpProtoTcp, ws::kTcpKeepCnt, IPPROTO_TCP, TCP_KEEPCNT, Value::kInt},
    // Both bound how long sent data may stay unacknowledged before the
    // connection is given up; Windows counts seconds, Linux milliseconds.
    {ws::kIpProtoTcp, ws::kTcpMaxRt, IPPROTO_TCP, TCP_USER_TIMEOUT, Value::kSecondsAsMillis},
};

const Option* FindOption(int level, int name) {
  for (const Option& option : kOptions) {
    if (option.ws_level == level && option.ws_name == name) return &option;
  }
  return nullptr;
}

// Every Windows value here is four bytes long.
constexpr int kValueLength = 4;

std::int32_t ReadInt32(const char* value) {
  std::int32_t result;
  std::memcpy(&result, value, sizeof result);
  return result;
}

void WriteInt32(std::int32_t number, char* value, int* length) {
  std::memcpy(value, &number, sizeof number);
  *length = kValueLength;
}

int SetValue(int fd, const Option& option, const char* value) {
  auto set = [&](const void* system_value, socklen_t length) {
    return Libc().setsockopt(fd, option.level, option.name, system_value, length) < 0
               ? FailWithErrno()
               : 0;
  };
  switch (option.value) {
    case Value::kInt:
    case Value::kBufferSize: {
      int number = ReadInt32(value);
      return set(&number, sizeof number);
    }
    case Value::kLinger: {
      ws::Linger windows;
      std::memcpy(&windows, value, sizeof windows);
      linger system{windows.l_onoff != 0 ? 1 : 0, windows.l_linger};
      return set(&system, sizeof system);
    }
    case Value::kMillis: {
      std::uint32_t ms;
      std::memcpy(&ms, value, sizeof ms);
      timeval system{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>(ms % 1000 * 1000)};
      return set(&system, sizeof system);
    }
    case Value::kSecondsAsMillis: {
      std::int32_t seconds = ReadInt32(value);
      if (seconds < 0 || seconds > static_cast<std::int32_t>(UINT_MAX / 1000)) {
        return Fail(kWsaEInval);
      }
      unsigned int ms = static_cast<unsigned int>(seconds) * 1000U;
      return set(&ms, sizeof ms);
    }
    default:  // read-only options
      return Fail(kWsaENoProtoOpt);
  }
}

int ToWindowsSocketType(int type) {
  switch (type) {
    case SOCK_STREAM:
      return ws::kSockStream;
    case SOCK_DGRAM:
      return ws::kSockDgram;
    case SOCK_RAW:
      return 3;
    default:
      return type;
  }
}

int GetValue(int fd, const Option& option, char* value, int* length) {
  auto get = [&](void* system_value, socklen_t system_length) {
    return Libc().getsockopt(fd, option.level, option.name, system_value, &system_length) < 0
               ? FailWithErrno()
               : 0;
  };
  switch (option.value) {
    case Value::kLinger: {
      linger system{};
      if (get(&system, sizeof system) != 0) return ws::kSocketError;
      ws::Linger windows{
          static_cast<std::uint16_t>(system.l_onoff != 0 ? 1 : 0),
          static_cast<std::uint16_t>(system.l_linger > 0xFFFF ? 0xFFFF : system.l_linger)};
      std::memcpy(value, &windows, sizeof windows);
      *length = sizeof windows;
      return 0;
    }
    case Value::kMillis: {
      timeval system{};
      if (get(&system, sizeof system) != 0) return ws::kSocketError;
      long long ms = static_cast<long long>(system.tv_sec) * 1000 + system.tv_usec / 1000;
      WriteInt32(static_cast<std::int32_t>(ms > UINT32_MAX ? UINT32_MAX : ms), value, length);
      return 0;
    }
    case Value::kSecondsAsMillis: {
      unsigned int ms = 0;
      if (get(&ms, sizeof ms) != 0) return ws::kSocketError;
      WriteInt32(static_cast<std::int32_t>(ms / 1000), value, length);
      return 0;
    }
    default: {
      int number = 0;
      if (get(&number, sizeof number) != 0) return ws::kSocketError;
      if (option.value == Value::kBufferSize) number /= 2;  // what the caller asked for
      if (option.value == Value::kError) number = WsaErrorFromErrno(number);
      if (option.value == Value::kType) number = ToWindowsSocketType(number);
      WriteInt32(number, value, length);
      return 0;
    }
  }
}

}  // namespace

int SetSockOpt(ws::Socket s, int level, int optname, const char* optval, int optlen) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  const Option* option = FindOption(level, optname);
  if (option == nullptr) return Fail(kWsaENoProtoOpt);
  if (optval == nullptr || optlen < kValueLength) return Fail(kWsaEFault);
  return SetValue(use.fd(), *option, optval);
}

int GetSockOpt(ws::Socket s, int level, int optname, char* optval, int* optlen) {
  SocketUse use(s);
  if (use.error() != 0) return Fail(use.error());
  const Option* option = FindOption(level, optname);
  if (option == nullptr) return Fail(kWsaENoProtoOpt);
  if (optval == nullptr || optlen == nullptr || *optlen < kValueLength) return Fail(kWsaEFault);
  return GetValue(use.fd(), *option, optval, optlen);
}

}  // namespace wsposix
