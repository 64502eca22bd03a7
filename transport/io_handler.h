#pragma once

#include <cstdint>
#include <string>

#include "transport/transport_component.h"

/// What a connection talks to: opens, connects, waits on, reads from, writes
/// to and closes one stream. Derived handlers that hold a resource close it
/// in their own destructor (a base destructor cannot reach their CloseIO).
class TIdIOHandler : public TIdComponent {
 public:
  using TIdComponent::TIdComponent;

  virtual void AcceptedHook() {}
  virtual void CloseIO() {}
  /// Time-out in ms: positive limits the connect, -2 waits without limit in
  /// the connect thread, 0 and -1 connect directly in the calling thread.
  virtual void ConnectToPeer(const std::string& /*host*/, std::int32_t /*port*/,
                             const std::string& /*bound_ip*/, std::int32_t /*bound_port*/,
                             std::int32_t /*bound_port_min*/, std::int32_t /*bound_port_max*/,
                             std::int32_t /*timeout_ms*/) {}
  virtual bool IsOpen() = 0;
  virtual void OpenIO() {}
  /// True when data or a close can be read within `timeout_ms` (-2: no limit),
  /// false when the time ran out; a failed wait raises.
  virtual bool WaitReadable(std::int32_t timeout_ms) = 0;
  /// The platform's result: a count, 0 when the peer closed, -1 on failure.
  virtual int ReceiveBytes(void* buffer, int length) = 0;
  virtual int SendBytes(const void* buffer, int length) = 0;
};
