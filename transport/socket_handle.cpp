#include "transport/socket_handle.h"

#include <algorithm>

#include "transport/anti_freeze.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/transport_errors.h"

TIdSocketHandle::TIdSocketHandle() { ForgetSocket(true); }

TIdSocketHandle::~TIdSocketHandle() {
  // Owners close explicitly; this only keeps a descriptor from leaking when a
  // handle dies on an error path with its socket still open.
  if (IsAllocated && SocketStack != nullptr) ShutAndClose(false);
}

void TIdSocketHandle::Assign(const TIdSocketHandle& source) {
  IP = source.IP;
  Port = source.Port;
  RemoteIP = source.RemoteIP;
  RemotePort = source.RemotePort;
}

void TIdSocketHandle::ShutAndClose(bool /*reset_local*/) {
  if (!IsAllocated) return;
  IsAllocated = false;
  SocketStack->SockShutdown(SocketId, ws::kSdSend);
  SocketStack->SockClose(SocketId);
}

int TIdSocketHandle::ConnectSocket(int family) {
  int result = SocketStack->SockConnect(SocketId, family, RemoteIP, RemotePort);
  if (result != ws::kSocketError) {
    RefreshLocal();
    RefreshPeer();
    // TCP's simultaneous open lets a socket whose local port happens to be
    // the target port connect to itself, when nothing listens there on the
    // same host: it would then read back its own requests. That is the
    // refusal it really is. The socket stays allocated like that of any
    // failed connect, for the caller's failure path to close.
    if (IP == RemoteIP && Port == RemotePort) {
      SocketStack->RaiseSocketFailure(ws::kWsaEConnRefused);
    }
  }
  return result;
}

int TIdSocketHandle::ReceiveDatagram(void* buffer, int length, int flags, std::string* sender_ip,
                                     int* sender_port) {
  return SocketStack->SockReceiveFrom(SocketId, buffer, length, flags, sender_ip, sender_port);
}

void TIdSocketHandle::AcquireSocket(int type, int protocol) {
  if (IsAllocated) ShutAndClose(false);
  SocketId = SocketStack->NewSocket(type, protocol);
  IsAllocated = true;
}

void TIdSocketHandle::BindLocal() {
  if (Port != 0 || ClientPortMin == 0 || ClientPortMax == 0) {
    if (!TryBindOnce()) throw EIdCouldNotBindSocket();
    return;
  }
  if (ClientPortMin > ClientPortMax) {
    throw EIdInvalidPortRange("Invalid Port Range (" + std::to_string(ClientPortMin) + " - " +
                              std::to_string(ClientPortMax) + ")");
  }
  BindInRange();
}

void TIdSocketHandle::BindInRange() {
  for (std::int32_t port = ClientPortMax; port >= ClientPortMin; --port) {
    Port = port;
    if (TryBindOnce()) return;
  }
  throw EIdCanNotBindPortInRange("Can not bind in port range (" + std::to_string(ClientPortMin) +
                                 " - " + std::to_string(ClientPortMax) + ")");
}

bool TIdSocketHandle::TryBindOnce() {
  int result = SocketStack->SockBind(SocketId, ws::kAfInet, IP, Port);
  if (SocketStack->CheckSocketResult(result, {ws::kWsaEAddrInUse})) return false;
  RefreshLocal();
  return true;
}

void TIdSocketHandle::SetPeerAddress(const std::string& ip, int port) {
  RemoteIP = ip;
  RemotePort = port;
}

void TIdSocketHandle::SetOption(int level, int option, const void* value, int length) {
  SocketStack->CheckSocketResult(
      SocketStack->SockSetOption(SocketId, level, option, value, length));
}

bool TIdSocketHandle::ReadableWithin(int ms) {
  if (!IsAllocated) throw EIdConnClosedGracefully();
  if (TIdAntiFreezeBase::AntiFreezeInUse()) {
    // Wait in slices of the anti-freeze's idle time, giving time between them.
    std::int32_t idle = TIdAntiFreezeBase::Registered()->IdleTimeOut;
    if (ms == -2) {
      while (!ReadableWithin(idle)) {
      }
      return true;
    }
    if (ms > idle) {
      if (ReadableWithin(ms - idle)) return true;
      ms = idle;
    }
  }
  TIdSocketList read{SocketId};
  int ready = SocketStack->SockSelect(&read, nullptr, nullptr, ms);
  // A failed wait is the socket's error, not an expired time: without this
  // check a wait without limit would report "Read Timeout".
  SocketStack->CheckSocketResult(ready);
  bool readable = ready == 1;
  TIdAntiFreezeBase::GiveTime(!readable, false);
  return readable;
}

int TIdSocketHandle::ReceiveRaw(void* buffer, int length, int flags) {
  return SocketStack->SockReceive(SocketId, buffer, length, flags);
}

int TIdSocketHandle::SendRaw(const void* buffer, int length, int flags) {
  return SocketStack->SockSend(SocketId, buffer, length, flags);
}

void TIdSocketHandle::ForgetSocket(bool reset_local) {
  IsAllocated = false;
  SocketId = ws::kInvalidSocket;
  if (reset_local) {
    IP.clear();
    Port = 0;
  }
  RemoteIP.clear();
  RemotePort = 0;
}

void TIdSocketHandle::RefreshLocal() {
  int family = 0;
  SocketStack->SockLocalName(SocketId, &family, &Port, &IP);
}

void TIdSocketHandle::RefreshPeer() {
  int family = 0;
  SocketStack->SockPeerName(SocketId, &family, &RemotePort, &RemoteIP);
}
