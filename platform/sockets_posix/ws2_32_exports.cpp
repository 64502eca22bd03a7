// The functions of libws2_32.so under their Windows Sockets names.
//
// How the library reaches the C library. Most of the names exported here
// (socket, bind, connect, send, ...) are also the names of the C library's
// own functions, and a by-name call from inside this library could land on
// our own export: -Bsymbolic, protected visibility, an RTLD_DEEPBIND load or
// an interposing preload all bind such a reference to the nearest definition,
// and the call would then recurse until the stack runs out. So the library
// never calls a C library function by one of these names:
//  - this file includes no operating-system header, defines the exports with
//    the Windows signatures and only forwards to wsposix:: functions;
//  - the implementation calls the clashing C library functions through
//    Libc() (libc_calls.h), a table of addresses looked up explicitly in the
//    C library's own handle with dlsym, which searches libc.so and nothing
//    else, whatever the link options or the load order;
//  - functions whose names we do not export (poll, fcntl, accept4,
//    getaddrinfo, ...) are called directly.
// The library is linked with -Bsymbolic on purpose (see CMakeLists.txt) so
// that a slip shows up as a recursion in the loopback tests.

#include <cstdint>

#include "platform/sockets_abi.h"
#include "platform/sockets_posix/sockets_posix.h"

#define WS_EXPORT extern "C" __attribute__((visibility("default")))

WS_EXPORT int WSAStartup(std::uint16_t version, ws::WsaData* data) {
  return wsposix::Startup(version, data);
}
WS_EXPORT int WSACleanup() { return wsposix::Cleanup(); }
WS_EXPORT int WSAGetLastError() { return wsposix::LastError(); }
WS_EXPORT void WSASetLastError(int error) { wsposix::SetLastError(error); }

WS_EXPORT ws::Socket socket(int af, int type, int protocol) {
  return wsposix::Socket(af, type, protocol);
}
WS_EXPORT int bind(ws::Socket s, const ws::SockAddr* name, int namelen) {
  return wsposix::Bind(s, name, namelen);
}
WS_EXPORT int connect(ws::Socket s, const ws::SockAddr* name, int namelen) {
  return wsposix::Connect(s, name, namelen);
}
WS_EXPORT int listen(ws::Socket s, int backlog) { return wsposix::Listen(s, backlog); }
WS_EXPORT ws::Socket accept(ws::Socket s, ws::SockAddr* addr, int* addrlen) {
  return wsposix::Accept(s, addr, addrlen);
}
// The first argument exists for compatibility only; Windows ignores it too.
WS_EXPORT int select(int /*nfds*/, ws::FdSet* readfds, ws::FdSet* writefds, ws::FdSet* exceptfds,
                     const ws::TimeVal* timeout) {
  return wsposix::Select(readfds, writefds, exceptfds, timeout);
}
WS_EXPORT int recv(ws::Socket s, char* buf, int len, int flags) {
  return wsposix::Recv(s, buf, len, flags);
}
WS_EXPORT int recvfrom(ws::Socket s, char* buf, int len, int flags, ws::SockAddr* from,
                       int* fromlen) {
  return wsposix::RecvFrom(s, buf, len, flags, from, fromlen);
}
WS_EXPORT int send(ws::Socket s, const char* buf, int len, int flags) {
  return wsposix::Send(s, buf, len, flags);
}
WS_EXPORT int sendto(ws::Socket s, const char* buf, int len, int flags, const ws::SockAddr* to,
                     int tolen) {
  return wsposix::SendTo(s, buf, len, flags, to, tolen);
}
WS_EXPORT int shutdown(ws::Socket s, int how) { return wsposix::Shutdown(s, how); }
WS_EXPORT int closesocket(ws::Socket s) { return wsposix::CloseSocket(s); }
WS_EXPORT int setsockopt(ws::Socket s, int level, int optname, const char* optval, int optlen) {
  return wsposix::SetSockOpt(s, level, optname, optval, optlen);
}
WS_EXPORT int getsockopt(ws::Socket s, int level, int optname, char* optval, int* optlen) {
  return wsposix::GetSockOpt(s, level, optname, optval, optlen);
}
WS_EXPORT int getsockname(ws::Socket s, ws::SockAddr* name, int* namelen) {
  return wsposix::GetSockName(s, name, namelen);
}
WS_EXPORT int getpeername(ws::Socket s, ws::SockAddr* name, int* namelen) {
  return wsposix::GetPeerName(s, name, namelen);
}
WS_EXPORT int ioctlsocket(ws::Socket s, std::int32_t cmd, std::uint32_t* argp) {
  return wsposix::IoctlSocket(s, cmd, argp);
}

WS_EXPORT ws::HostEnt* gethostbyname(const char* name) { return wsposix::GetHostByName(name); }
WS_EXPORT ws::HostEnt* gethostbyaddr(const char* addr, int len, int type) {
  return wsposix::GetHostByAddr(addr, len, type);
}
WS_EXPORT int gethostname(char* name, int namelen) { return wsposix::GetHostName(name, namelen); }
WS_EXPORT ws::ServEnt* getservbyname(const char* name, const char* proto) {
  return wsposix::GetServByName(name, proto);
}
WS_EXPORT ws::ServEnt* getservbyport(int port, const char* proto) {
  return wsposix::GetServByPort(port, proto);
}

// Byte order conversion is its own inverse.
WS_EXPORT std::uint16_t htons(std::uint16_t value) { return wsposix::HostToNet16(value); }
WS_EXPORT std::uint16_t ntohs(std::uint16_t value) { return wsposix::HostToNet16(value); }
WS_EXPORT std::uint32_t htonl(std::uint32_t value) { return wsposix::HostToNet32(value); }
WS_EXPORT std::uint32_t ntohl(std::uint32_t value) { return wsposix::HostToNet32(value); }
WS_EXPORT std::uint32_t inet_addr(const char* cp) { return wsposix::InetAddr(cp); }
WS_EXPORT char* inet_ntoa(ws::InAddr in) { return wsposix::InetNtoa(in); }
