#include "transport/connection_intercept.h"

#include "transport/simple_buffer.h"

void TIdConnectionIntercept::SetNextIntercept(TIdConnectionIntercept* next) {
  if (next_ != nullptr) RemoveFreeNotification(next_);
  next_ = next;
  if (next_ != nullptr) FreeNotification(next_);
}

void TIdConnectionIntercept::PassConnect(TIdTCPConnection* connection) {
  if (next_ != nullptr) next_->InterceptConnect(connection);
}

void TIdConnectionIntercept::PassDisconnect() {
  if (next_ != nullptr) next_->InterceptDisconnect();
}

void TIdConnectionIntercept::PassReceive(TIdSimpleBuffer* buffer) {
  if (next_ != nullptr) next_->InterceptReceive(buffer);
}

void TIdConnectionIntercept::PassSend(TIdSimpleBuffer* buffer) {
  if (next_ != nullptr) next_->InterceptSend(buffer);
}

void TIdConnectionIntercept::InterceptConnect(TIdTCPConnection* connection) {
  attached_ = connection;
  if (OnConnect) OnConnect(this);
  PassConnect(connection);
}

void TIdConnectionIntercept::InterceptDisconnect() {
  PassDisconnect();
  if (OnDisconnect) OnDisconnect(this);
  attached_ = nullptr;
}

void TIdConnectionIntercept::InterceptReceive(TIdSimpleBuffer* buffer) {
  PassReceive(buffer);
  if (OnReceive) {
    OnReceive(this, buffer);
    buffer->SetPosition(0);
  }
}

void TIdConnectionIntercept::InterceptSend(TIdSimpleBuffer* buffer) {
  if (OnSend) {
    OnSend(this, buffer);
    buffer->SetPosition(0);
  }
  PassSend(buffer);
}

void TIdConnectionIntercept::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == next_) next_ = nullptr;
  TIdBaseComponent::Notification(component, operation);
}
