#pragma once

// A socket stack that hands every platform operation to a target stack. A
// stack that changes a few operations (to fail one on demand, to serve a
// scripted peer) derives from it and overrides only those; everything else
// keeps the target's behaviour, address formatting and error texts included.

#include <memory>
#include <string>
#include <vector>

#include "transport/socket_stack.h"

class ForwardingStack : public TIdStack {
 public:
  /// Forwards to a new stack of the process's default class (the one over
  /// the sockets library). Raises what constructing that stack raises.
  ForwardingStack();
  /// REQUIRES: `target` is not null.
  explicit ForwardingStack(std::unique_ptr<TIdStack> target);

  /// The stack every call goes to; owned by this one.
  TIdStack& target() const { return *target_; }

  // The target's own operations call the target's operations, not the
  // overrides of a subclass: an override changes what the transport sees,
  // not what the target does inside itself. CheckSocketResult,
  // RaiseSocketFailure and LastErrorCode are this stack's own, so a checked
  // result reads this stack's SockLastError (an override of it included).
  void FillLocalAddressList() override;
  std::string FirstLocalAddress() override;
  const std::vector<std::string>& LocalAddressList() override;
  ws::Socket SockAccept(ws::Socket s, std::string* peer_ip, int* peer_port) override;
  int SockBind(ws::Socket s, int family, const std::string& ip, int port) override;
  int SockClose(ws::Socket s) override;
  int SockConnect(ws::Socket s, int family, const std::string& ip, int port) override;
  std::string SockLookupHost(const std::string& host) override;
  std::string SockHostName() override;
  std::string SockLookupAddress(const std::string& ip) override;
  int SockServicePort(const std::string& service) override;
  std::vector<std::string> SockPortServices(int port) override;
  std::uint16_t SockHostToNet16(std::uint16_t value) override;
  int SockListen(ws::Socket s, int backlog) override;
  std::uint16_t SockNetToHost16(std::uint16_t value) override;
  std::uint32_t SockHostToNet32(std::uint32_t value) override;
  std::uint32_t SockNetToHost32(std::uint32_t value) override;
  int SockReceive(ws::Socket s, void* buffer, int length, int flags) override;
  int SockReceiveFrom(ws::Socket s, void* buffer, int length, int flags, std::string* sender_ip,
                      int* sender_port) override;
  int SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                 int timeout_ms) override;
  int SockSend(ws::Socket s, const void* buffer, int length, int flags) override;
  int SockSendTo(ws::Socket s, const void* buffer, int length, int flags, const std::string& ip,
                 int port) override;
  int SockSetOption(ws::Socket s, int level, int option, const void* value, int length) override;
  ws::Socket SockCreate(int family, int type, int protocol) override;
  int SockShutdown(ws::Socket s, int how) override;
  std::string SocketErrorText(int code) override;
  int SockLastError() override;
  void SockPeerName(ws::Socket s, int* family, int* port, std::string* ip) override;
  void SockLocalName(ws::Socket s, int* family, int* port, std::string* ip) override;
  int SockGetOption(ws::Socket s, int level, int option, void* value, int* length) override;
  std::string FormatAddressText(const TIdIPv4Bytes& bytes) override;
  TIdIPv4Bytes ParseAddressText(const std::string& text) override;

 private:
  std::unique_ptr<TIdStack> target_;
};
