#pragma once

#include "transport/socket_stack.h"

/// The socket stack over the sockets library with the Windows Sockets
/// interface, bound at run time: the system's own on Windows, ours
/// (platform/sockets_posix) elsewhere. It is the process's default stack
/// class. Constructing the first one in the process loads and starts the
/// library.
class TIdStackWindows : public TIdStack {
 public:
  /// Raises EIdWS2StubError when the library cannot be loaded and
  /// EIdStackInitializationFailed when its start-up call fails.
  TIdStackWindows();

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
  ws::SockAddrIn MakeAddress(int family, const TIdIPv4Bytes& ip, int port);
  void ReadAddress(const ws::SockAddrIn& address, int* family, int* port, std::string* ip);
};

/// True once the library's start-up call has succeeded in this process.
bool SocketsStarted();
