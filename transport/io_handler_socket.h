#pragma once

#include <memory>

#include "transport/io_handler.h"
#include "transport/socket_handle.h"
#include "transport/socks_info.h"

/// The I/O handler over one TCP socket handle, which it owns.
class TIdIOHandlerSocket : public TIdIOHandler {
 public:
  explicit TIdIOHandlerSocket(TComponent* owner);
  ~TIdIOHandlerSocket() override;

  void CloseIO() override;
  /// Binds, resolves and connects; see TIdIOHandler for the time-out.
  void ConnectToPeer(const std::string& host, std::int32_t port, const std::string& bound_ip,
                     std::int32_t bound_port, std::int32_t bound_port_min,
                     std::int32_t bound_port_max, std::int32_t timeout_ms) override;
  bool IsOpen() override;
  /// Creates the socket handle, or resets the existing one without closing.
  void OpenIO() override;
  bool WaitReadable(std::int32_t timeout_ms) override;
  /// Raise EIdClosedSocket "Disconnected." when the handler is not open.
  int ReceiveBytes(void* buffer, int length) override;
  int SendBytes(const void* buffer, int length) override;

  /// The socket handle; null until the first OpenIO.
  TIdSocketHandle* Socket() const { return socket_.get(); }

  /// The proxy settings; the handler creates and owns its own on first use.
  TIdSocksInfo* SocksInfo();
  /// An object with an owner is used as it is; one without is copied.
  void SetSocksInfo(TIdSocksInfo* info);

  bool UseNagle = true;
  /// Seconds within which a dead path is noticed on the connected socket
  /// (see dead_path_detection.h); 0, the default, sets no option at all.
  std::int32_t DeadPathTimeoutS = 0;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void TimedConnect(std::int32_t timeout_ms);

  std::unique_ptr<TIdSocketHandle> socket_;
  TIdSocksInfo* socks_info_ = nullptr;
};
