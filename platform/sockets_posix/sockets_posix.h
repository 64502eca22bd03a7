#pragma once

// The Windows Sockets functions as this library implements them on POSIX.
// Each one behaves as its Windows namesake: failures return -1 (or
// kInvalidSocket, or null) and leave a Windows Sockets error number for
// LastError(); successful calls leave the last error alone.
//
// This header includes no operating-system header on purpose: the file that
// exports these functions under their Windows names must not see the C
// library's declarations of the same names.

#include <cstdint>

#include "platform/sockets_abi.h"

namespace wsposix {

// Start-up needs no state: every other call works also before Startup() and
// after Cleanup().
int Startup(std::uint16_t version, ws::WsaData* data);
int Cleanup();
int LastError();
void SetLastError(int code);

ws::Socket Socket(int af, int type, int protocol);
int Bind(ws::Socket s, const ws::SockAddr* name, int namelen);
/// A blocking connect returns early, with kWsaEIntr after Shutdown() and with
/// kWsaENotSock after CloseSocket() from another thread.
int Connect(ws::Socket s, const ws::SockAddr* name, int namelen);
int Listen(ws::Socket s, int backlog);
ws::Socket Accept(ws::Socket s, ws::SockAddr* addr, int* addrlen);
int Select(ws::FdSet* readfds, ws::FdSet* writefds, ws::FdSet* exceptfds,
           const ws::TimeVal* timeout);
int Recv(ws::Socket s, char* buf, int len, int flags);
int RecvFrom(ws::Socket s, char* buf, int len, int flags, ws::SockAddr* from, int* fromlen);
int Send(ws::Socket s, const char* buf, int len, int flags);
int SendTo(ws::Socket s, const char* buf, int len, int flags, const ws::SockAddr* to, int tolen);
int Shutdown(ws::Socket s, int how);
int CloseSocket(ws::Socket s);
int SetSockOpt(ws::Socket s, int level, int optname, const char* optval, int optlen);
int GetSockOpt(ws::Socket s, int level, int optname, char* optval, int* optlen);
int GetSockName(ws::Socket s, ws::SockAddr* name, int* namelen);
int GetPeerName(ws::Socket s, ws::SockAddr* name, int* namelen);
int IoctlSocket(ws::Socket s, std::int32_t cmd, std::uint32_t* argp);

// Lookups return records owned by the calling thread, valid until its next
// lookup of the same kind.
ws::HostEnt* GetHostByName(const char* name);
ws::HostEnt* GetHostByAddr(const char* addr, int len, int type);
int GetHostName(char* name, int namelen);
ws::ServEnt* GetServByName(const char* name, const char* proto);
ws::ServEnt* GetServByPort(int port, const char* proto);

std::uint16_t HostToNet16(std::uint16_t value);
std::uint32_t HostToNet32(std::uint32_t value);
std::uint32_t InetAddr(const char* text);
/// Dotted text in a buffer owned by the calling thread.
char* InetNtoa(ws::InAddr address);

}  // namespace wsposix
