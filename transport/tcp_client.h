#pragma once

#include <cstdint>
#include <string>

#include "transport/tcp_connection.h"

/// A connection that connects itself to Host:Port, optionally from a bound
/// local address or port range.
class TIdTCPClient : public TIdTCPConnection {
 public:
  /// Raises what creating the socket stack raises for the first transport
  /// component (EIdWS2StubError, EIdStackInitializationFailed).
  explicit TIdTCPClient(TComponent* owner = nullptr);

  virtual void AssignHost(const std::string& host) { host_ = host; }
  virtual void AssignPort(std::int32_t port) { port_ = port; }
  void SetHost(const std::string& host) { AssignHost(host); }
  void SetPort(std::int32_t port) { AssignPort(port); }
  const std::string& Host() const { return host_; }
  std::int32_t Port() const { return port_; }

  /// Connects within `timeout_ms` (see TIdIOHandler::ConnectToPeer). On
  /// failure the socket is closed, the handler kept for the next attempt,
  /// no disconnect notification is sent and the error propagates.
  virtual void OpenConnection(std::int32_t timeout_ms);
  /// OpenConnection(-1), then ReadAll; the connection is closed either way.
  virtual std::string ConnectAndReadAll();

  std::string BoundIP;
  std::int32_t BoundPort = 0;
  std::int32_t BoundPortHigh = 0;
  std::int32_t BoundPortLow = 0;
  /// Given to the I/O handler that the client creates itself, at every
  /// connect (TIdIOHandlerSocket::DeadPathTimeoutS); 0 by default.
  std::int32_t DeadPathTimeoutS = 0;
  TNotifyEvent OnConnected;

 protected:
  virtual void FireConnected();

 private:
  std::string host_;
  std::int32_t port_ = 0;
};
