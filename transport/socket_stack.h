#pragma once

// The socket stack: the transport's only gateway to the sockets library.
// One stack object exists per process while at least one transport component
// exists (process_stack.h); it wraps every platform call, resolves host names
// to IPv4 text, checks platform results and turns error codes into
// EIdSocketError.

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/sockets_abi.h"

using TIdSocketList = std::vector<ws::Socket>;
using TIdIPv4Bytes = std::array<std::uint8_t, 4>;  // network order: byte 0 first

class TIdStack {
 public:
  TIdStack() = default;
  virtual ~TIdStack() = default;
  TIdStack(const TIdStack&) = delete;
  TIdStack& operator=(const TIdStack&) = delete;

  // The platform operations. Results marked "platform result" are the
  // library's own: -1 on failure, with the code in SockLastError().
  virtual void FillLocalAddressList() = 0;
  virtual std::string FirstLocalAddress() = 0;
  /// Still owned by the stack.
  virtual const std::vector<std::string>& LocalAddressList() = 0;
  virtual ws::Socket SockAccept(ws::Socket s, std::string* peer_ip, int* peer_port) = 0;
  virtual int SockBind(ws::Socket s, int family, const std::string& ip, int port) = 0;
  virtual int SockClose(ws::Socket s) = 0;
  virtual int SockConnect(ws::Socket s, int family, const std::string& ip, int port) = 0;
  virtual std::string SockLookupHost(const std::string& host) = 0;
  virtual std::string SockHostName() = 0;
  virtual std::string SockLookupAddress(const std::string& ip) = 0;
  virtual int SockServicePort(const std::string& service) = 0;
  virtual std::vector<std::string> SockPortServices(int port) = 0;
  virtual std::uint16_t SockHostToNet16(std::uint16_t value) = 0;
  virtual int SockListen(ws::Socket s, int backlog) = 0;
  virtual std::uint16_t SockNetToHost16(std::uint16_t value) = 0;
  virtual std::uint32_t SockHostToNet32(std::uint32_t value) = 0;
  virtual std::uint32_t SockNetToHost32(std::uint32_t value) = 0;
  virtual int SockReceive(ws::Socket s, void* buffer, int length, int flags) = 0;
  virtual int SockReceiveFrom(ws::Socket s, void* buffer, int length, int flags,
                              std::string* sender_ip, int* sender_port) = 0;
  /// Waits until a socket of a list is ready; each present list is replaced
  /// by its ready sockets. `timeout_ms` -2 waits without limit, 0 polls.
  /// Returns the ready count, 0 on time-out, -1 on failure (not checked).
  virtual int SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                         int timeout_ms) = 0;
  virtual int SockSend(ws::Socket s, const void* buffer, int length, int flags) = 0;
  virtual int SockSendTo(ws::Socket s, const void* buffer, int length, int flags,
                         const std::string& ip, int port) = 0;
  virtual int SockSetOption(ws::Socket s, int level, int option, const void* value, int length) = 0;
  virtual ws::Socket SockCreate(int family, int type, int protocol) = 0;
  virtual int SockShutdown(ws::Socket s, int how) = 0;
  /// "Socket Error # %d\r\n%s" with the code's text (empty when unknown).
  virtual std::string SocketErrorText(int code);
  virtual int SockLastError() = 0;
  virtual void SockPeerName(ws::Socket s, int* family, int* port, std::string* ip) = 0;
  virtual void SockLocalName(ws::Socket s, int* family, int* port, std::string* ip) = 0;
  virtual int SockGetOption(ws::Socket s, int level, int option, void* value, int* length) = 0;
  virtual std::string FormatAddressText(const TIdIPv4Bytes& bytes) = 0;
  /// Raises EConvertError for a piece that is not a whole number.
  virtual TIdIPv4Bytes ParseAddressText(const std::string& text) = 0;

  /// False when `result` is not -1. Otherwise records the calling thread's
  /// last error in LastErrorCode and returns true when it is one of
  /// `ignore_codes`; any other code raises EIdSocketError.
  bool CheckSocketResult(int result, std::initializer_list<int> ignore_codes = {});
  [[noreturn]] void RaiseSocketFailure(int code);
  /// Raises EIdInvalidSocket "Cannot allocate socket." on failure.
  ws::Socket NewSocket(int type, int protocol);
  /// "LOCALHOST" in any letter case gives 127.0.0.1, a dotted quad itself;
  /// anything else is looked up (every call looks it up again).
  std::string HostToIP(const std::string& host);
  static bool IsDottedQuad(const std::string& text);
  TIdIPv4Bytes TextToAddress(const std::string& text) { return ParseAddressText(text); }

  /// The code of the latest failing CheckSocketResult, in any thread.
  int LastErrorCode() const { return last_error_code_.load(std::memory_order_relaxed); }

 protected:
  std::unique_ptr<std::vector<std::string>> local_addresses_;  // null until requested

 private:
  std::atomic<int> last_error_code_{0};
};
