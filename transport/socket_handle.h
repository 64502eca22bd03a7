#pragma once

#include <cstdint>
#include <string>

#include "platform/sockets_abi.h"

/// One platform socket with its local and peer addresses. Every platform
/// call goes through the socket stack. A handle that still holds an open
/// socket when it is destroyed closes it.
class TIdSocketHandle {
 public:
  TIdSocketHandle();
  virtual ~TIdSocketHandle();
  TIdSocketHandle(const TIdSocketHandle&) = delete;
  TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

  /// Copies IP, Port, RemoteIP and RemotePort from another handle.
  void Assign(const TIdSocketHandle& source);

  /// Shuts the socket down for sending and closes it; results are ignored
  /// and SocketId keeps its stale value. Nothing when not allocated.
  virtual void ShutAndClose(bool reset_local);
  /// The platform connect to RemoteIP:RemotePort, unchecked; on success the
  /// local and peer addresses are refreshed (which raises on failure). A
  /// socket that connected to itself raises EIdSocketError 10061, as the
  /// refused connect it stands for.
  virtual int ConnectSocket(int family);
  virtual int ReceiveDatagram(void* buffer, int length, int flags, std::string* sender_ip,
                              int* sender_port);

  /// Closes any current socket and creates a new one (EIdInvalidSocket).
  void AcquireSocket(int type, int protocol);
  /// Binds IP:Port, or the first free port of ClientPortMax down to
  /// ClientPortMin when Port is 0 and both range ends are set.
  void BindLocal();
  void SetPeerAddress(const std::string& ip, int port);
  /// Raises EIdSocketError when the platform refuses the option.
  void SetOption(int level, int option, const void* value, int length);
  /// True when the socket becomes readable within `ms` (-2: no limit).
  /// Raises EIdConnClosedGracefully when no socket is allocated, and
  /// EIdSocketError when the wait itself fails.
  bool ReadableWithin(int ms);
  int ReceiveRaw(void* buffer, int length, int flags);
  int SendRaw(const void* buffer, int length, int flags);
  /// Drops the socket without closing it.
  void ForgetSocket(bool reset_local);
  void RefreshLocal();
  void RefreshPeer();

  ws::Socket SocketId = ws::kInvalidSocket;
  bool IsAllocated = false;
  std::string IP;
  std::string RemoteIP;
  std::int32_t Port = 0;
  std::int32_t RemotePort = 0;
  std::int32_t ClientPortMin = 0;
  std::int32_t ClientPortMax = 0;

 private:
  bool TryBindOnce();
  void BindInRange();
};
