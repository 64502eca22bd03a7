#include "transport/tcp_client.h"

#include "transport/connection_intercept.h"
#include "transport/io_handler_socket.h"
#include "transport/transport_errors.h"

TIdTCPClient::TIdTCPClient(TComponent* owner) : TIdTCPConnection(owner) {}

void TIdTCPClient::OpenConnection(std::int32_t timeout_ms) {
  if (IOHandler() != nullptr && IOHandler()->IsOpen()) throw EIdAlreadyConnected();
  if (IOHandler() == nullptr) {
    auto* handler = new TIdIOHandlerSocket(this);  // owned as a component from here on
    SetIOHandler(handler);
    handler->OnStatus = OnStatus;
    owns_io_handler_ = true;
  }
  if (owns_io_handler_) {
    static_cast<TIdIOHandlerSocket*>(IOHandler())->DeadPathTimeoutS = DeadPathTimeoutS;
  }
  try {
    IOHandler()->OpenIO();
    ClearInputState();
    IOHandler()->ConnectToPeer(host_, port_, BoundIP, BoundPort, BoundPortLow, BoundPortHigh,
                               timeout_ms);
    if (Intercept() != nullptr) Intercept()->InterceptConnect(this);
    ReportStatus(TIdStatus::hsConnected, {host_});
    FireConnected();
  } catch (...) {
    DropSocket();
    throw;
  }
}

std::string TIdTCPClient::ConnectAndReadAll() {
  OpenConnection(-1);
  std::string all;
  try {
    all = ReadAll();
  } catch (...) {
    CloseConnection();
    throw;
  }
  CloseConnection();
  return all;
}

void TIdTCPClient::FireConnected() {
  if (OnConnected) OnConnected(this);
}
