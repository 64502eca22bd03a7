#pragma once

// The binary interface of the Windows Sockets library as the transport binds
// it at run time: types, constants and function signatures, declared here so
// that nothing above the platform layer includes an operating-system header.
// On Windows the binding loads the real library; on POSIX systems it loads our
// own compatible library (platform/sockets_posix/), which implements exactly
// this interface, Windows error numbers and record layouts included.

#include <cstdint>

#if defined(_WIN32)
#define WS_API __stdcall
#else
#define WS_API
#endif

namespace ws {

using Socket = std::uintptr_t;
inline constexpr Socket kInvalidSocket = ~Socket{0};
inline constexpr int kSocketError = -1;

inline constexpr int kAfInet = 2;
inline constexpr int kSockStream = 1;
inline constexpr int kSockDgram = 2;
inline constexpr int kIpProtoTcp = 6;
inline constexpr int kTcpNoDelay = 1;
// Options of level IPPROTO_TCP for detecting a dead path. Times are whole
// seconds. Windows takes the keep-alive ones from Windows 10 1709 on and the
// maximum retransmission time from Vista on; older systems refuse them.
inline constexpr int kTcpKeepIdle = 3;    // idle time before the first probe
inline constexpr int kTcpMaxRt = 5;       // longest wait for an acknowledgement
inline constexpr int kTcpKeepCnt = 16;    // unanswered probes that end the connection
inline constexpr int kTcpKeepIntvl = 17;  // time between probes

// Socket-level options use the Windows numbering.
inline constexpr int kSolSocket = 0xFFFF;
inline constexpr int kSoDebug = 0x0001;
inline constexpr int kSoAcceptConn = 0x0002;
inline constexpr int kSoReuseAddr = 0x0004;
inline constexpr int kSoKeepAlive = 0x0008;
inline constexpr int kSoDontRoute = 0x0010;
inline constexpr int kSoBroadcast = 0x0020;
inline constexpr int kSoLinger = 0x0080;
inline constexpr int kSoOobInline = 0x0100;
inline constexpr int kSoSndBuf = 0x1001;
inline constexpr int kSoRcvBuf = 0x1002;
inline constexpr int kSoSndTimeo = 0x1005;
inline constexpr int kSoRcvTimeo = 0x1006;
inline constexpr int kSoError = 0x1007;
inline constexpr int kSoType = 0x1008;

inline constexpr int kSdReceive = 0;
inline constexpr int kSdSend = 1;
inline constexpr int kSdBoth = 2;

inline constexpr int kMsgOob = 1;
inline constexpr int kMsgPeek = 2;

inline constexpr std::int32_t kFionbio = static_cast<std::int32_t>(0x8004667EU);
inline constexpr std::int32_t kFionread = 0x4004667F;

// Error numbers the transport names in its own logic.
inline constexpr int kWsaEIntr = 10004;
inline constexpr int kWsaEBadF = 10009;
inline constexpr int kWsaEWouldBlock = 10035;
inline constexpr int kWsaENotSock = 10038;
inline constexpr int kWsaEAddrInUse = 10048;
inline constexpr int kWsaEConnAborted = 10053;
inline constexpr int kWsaEConnReset = 10054;
inline constexpr int kWsaEShutdown = 10058;
inline constexpr int kWsaETimedOut = 10060;
inline constexpr int kWsaEConnRefused = 10061;
inline constexpr int kWsaNotInitialised = 10093;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaNoRecovery = 11003;
inline constexpr int kWsaNoData = 11004;

inline constexpr int kFdSetSize = 64;

struct FdSet {
  std::uint32_t fd_count;
  Socket fd_array[kFdSetSize];
};

struct TimeVal {  // Windows' long is 32 bits wide on every architecture.
  std::int32_t tv_sec;
  std::int32_t tv_usec;
};

struct InAddr {
  std::uint32_t s_addr;  // network byte order
};

struct SockAddr {
  std::uint16_t sa_family;
  char sa_data[14];
};

struct SockAddrIn {
  std::int16_t sin_family;
  std::uint16_t sin_port;  // network byte order
  InAddr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(SockAddrIn) == 16);

struct Linger {
  std::uint16_t l_onoff;
  std::uint16_t l_linger;
};

struct HostEnt {
  char* h_name;
  char** h_aliases;
  std::int16_t h_addrtype;
  std::int16_t h_length;
  char** h_addr_list;
};

// Windows orders the service record's fields differently on 64-bit builds.
struct ServEnt {
  char* s_name;
  char** s_aliases;
#if UINTPTR_MAX > 0xFFFFFFFFu
  char* s_proto;
  std::int16_t s_port;  // network byte order
#else
  std::int16_t s_port;  // network byte order
  char* s_proto;
#endif
};

struct ProtoEnt {
  char* p_name;
  char** p_aliases;
  std::int16_t p_proto;
};

// The start-up record is opaque to the transport beyond its version fields;
// the storage is larger than the library's own record on every architecture.
struct WsaData {
  std::uint16_t wVersion;
  std::uint16_t wHighVersion;
  alignas(8) unsigned char rest[512];
};

using WSAStartupFn = int(WS_API*)(std::uint16_t version, WsaData* data);
using WSACleanupFn = int(WS_API*)();
using WSAGetLastErrorFn = int(WS_API*)();
using WSASetLastErrorFn = void(WS_API*)(int error);
using SocketFn = Socket(WS_API*)(int af, int type, int protocol);
using BindFn = int(WS_API*)(Socket s, const SockAddr* name, int namelen);
using ConnectFn = int(WS_API*)(Socket s, const SockAddr* name, int namelen);
using ListenFn = int(WS_API*)(Socket s, int backlog);
using AcceptFn = Socket(WS_API*)(Socket s, SockAddr* addr, int* addrlen);
using SelectFn = int(WS_API*)(int nfds, FdSet* readfds, FdSet* writefds, FdSet* exceptfds,
                              const TimeVal* timeout);
using RecvFn = int(WS_API*)(Socket s, char* buf, int len, int flags);
using RecvFromFn = int(WS_API*)(Socket s, char* buf, int len, int flags, SockAddr* from,
                                int* fromlen);
using SendFn = int(WS_API*)(Socket s, const char* buf, int len, int flags);
using SendToFn = int(WS_API*)(Socket s, const char* buf, int len, int flags, const SockAddr* to,
                              int tolen);
using ShutdownFn = int(WS_API*)(Socket s, int how);
using CloseSocketFn = int(WS_API*)(Socket s);
using SetSockOptFn = int(WS_API*)(Socket s, int level, int optname, const char* optval, int optlen);
using GetSockOptFn = int(WS_API*)(Socket s, int level, int optname, char* optval, int* optlen);
using GetSockNameFn = int(WS_API*)(Socket s, SockAddr* name, int* namelen);
using GetPeerNameFn = int(WS_API*)(Socket s, SockAddr* name, int* namelen);
using IoctlSocketFn = int(WS_API*)(Socket s, std::int32_t cmd, std::uint32_t* argp);
using GetHostByNameFn = HostEnt*(WS_API*)(const char* name);
using GetHostByAddrFn = HostEnt*(WS_API*)(const char* addr, int len, int type);
using GetHostNameFn = int(WS_API*)(char* name, int namelen);
using GetServByNameFn = ServEnt*(WS_API*)(const char* name, const char* proto);
using GetServByPortFn = ServEnt*(WS_API*)(int port, const char* proto);
using GetProtoByNameFn = ProtoEnt*(WS_API*)(const char* name);
using GetProtoByNumberFn = ProtoEnt*(WS_API*)(int number);
using Htons16Fn = std::uint16_t(WS_API*)(std::uint16_t value);
using Htonl32Fn = std::uint32_t(WS_API*)(std::uint32_t value);
using InetAddrFn = std::uint32_t(WS_API*)(const char* cp);
using InetNtoaFn = char*(WS_API*)(InAddr in);

}  // namespace ws
