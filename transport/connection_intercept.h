#pragma once

#include <functional>

#include "transport/transport_component.h"

class TIdTCPConnection;
class TIdSimpleBuffer;
class TIdConnectionIntercept;

using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* sender)>;
using TIdInterceptStreamEvent =
    std::function<void(TIdConnectionIntercept* sender, TIdSimpleBuffer* stream)>;

/// Hooks a connection calls on connect, disconnect, receive and send; may
/// observe or rewrite the bytes. Intercepts chain through NextIntercept:
/// received data passes the innermost first, outgoing data the outermost.
class TIdConnectionIntercept : public TIdBaseComponent {
 public:
  using TIdBaseComponent::TIdBaseComponent;

  TIdInterceptNotifyEvent OnConnect;
  TIdInterceptNotifyEvent OnDisconnect;
  TIdInterceptStreamEvent OnReceive;
  TIdInterceptStreamEvent OnSend;

  TIdTCPConnection* AttachedConnection() const { return attached_; }
  TIdConnectionIntercept* NextIntercept() const { return next_; }
  void SetNextIntercept(TIdConnectionIntercept* next);

  virtual void PassConnect(TIdTCPConnection* connection);
  virtual void PassDisconnect();
  virtual void PassReceive(TIdSimpleBuffer* buffer);
  virtual void PassSend(TIdSimpleBuffer* buffer);
  virtual void InterceptConnect(TIdTCPConnection* connection);
  virtual void InterceptDisconnect();
  virtual void InterceptReceive(TIdSimpleBuffer* buffer);
  virtual void InterceptSend(TIdSimpleBuffer* buffer);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TIdTCPConnection* attached_ = nullptr;
  TIdConnectionIntercept* next_ = nullptr;
};
