#include "transport/io_handler_socket.h"

#include <chrono>
#include <thread>

#include "transport/anti_freeze.h"
#include "transport/connect_thread.h"
#include "transport/dead_path_detection.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/transport_errors.h"

namespace {

constexpr std::int32_t kConnectPollStepMs = 125;
constexpr std::int32_t kAntiFreezeConnectTimeoutMs = 120000;

void SleepMs(std::int32_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* owner) : TIdIOHandler(owner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() { CloseIO(); }

void TIdIOHandlerSocket::CloseIO() {
  if (socket_ != nullptr) socket_->ShutAndClose(false);
}

void TIdIOHandlerSocket::ConnectToPeer(const std::string& host, std::int32_t port,
                                       const std::string& bound_ip, std::int32_t bound_port,
                                       std::int32_t bound_port_min, std::int32_t bound_port_max,
                                       std::int32_t timeout_ms) {
  std::string target_host = host;
  std::int32_t target_port = port;
  if (SocksInfo()->Version != TSocksVersion::svNoSocks) {
    target_host = SocksInfo()->Host;
    target_port = SocksInfo()->Port;
  }
  socket_->AcquireSocket(ws::kSockStream, 0);
  socket_->IP = bound_ip;
  socket_->Port = bound_port;
  socket_->ClientPortMin = bound_port_min;
  socket_->ClientPortMax = bound_port_max;
  socket_->BindLocal();
  if (!TIdStack::IsDottedQuad(target_host)) ReportStatus(TIdStatus::hsResolving, {target_host});
  socket_->SetPeerAddress(SocketStack->HostToIP(target_host), target_port);
  if (!UseNagle) {
    std::int32_t on = 1;
    socket_->SetOption(ws::kIpProtoTcp, ws::kTcpNoDelay, &on, sizeof on);
  }
  ReportStatus(TIdStatus::hsConnecting, {socket_->RemoteIP});
  if (timeout_ms != -1 && timeout_ms != 0) {
    TimedConnect(timeout_ms);
  } else if (TIdAntiFreezeBase::AntiFreezeInUse()) {
    TimedConnect(kAntiFreezeConnectTimeoutMs);
  } else {
    SocketStack->CheckSocketResult(socket_->ConnectSocket(ws::kAfInet));
  }
  // Set on the connected socket only: before the connect, the user time-out
  // would also cut the connect short, which has its own time-out.
  if (DeadPathTimeoutS > 0) EnableDeadPathDetection(*socket_, DeadPathTimeoutS);
}

void TIdIOHandlerSocket::TimedConnect(std::int32_t timeout_ms) {
  auto thread = std::make_unique<TIdConnectThread>(socket_.get());
  thread->Start();
  std::int32_t step = kConnectPollStepMs;
  if (TIdAntiFreezeBase::AntiFreezeInUse()) {
    step = std::min(TIdAntiFreezeBase::Registered()->IdleTimeOut, step);
  }
  const bool unlimited = timeout_ms == -2;
  std::int32_t remaining = unlimited ? step + 1 : timeout_ms;
  while (step < remaining) {
    SleepMs(step);
    remaining = unlimited ? step + 1 : remaining - step;
    TIdAntiFreezeBase::GiveTime(true, false);
    if (thread->Finished()) {
      remaining = 0;
      break;
    }
  }
  SleepMs(remaining);
  if (!thread->Finished()) {
    // Closing the socket makes the pending connect return; the thread must
    // be gone before we raise, so that it never touches a dead handle.
    CloseIO();
    thread->WaitFor();
    throw EIdConnectTimeout();
  }
  thread->WaitFor();
  if (!thread->FailureText().empty()) throw EIdConnectException(thread->FailureText());
}

bool TIdIOHandlerSocket::IsOpen() { return socket_ != nullptr && socket_->IsAllocated; }

void TIdIOHandlerSocket::OpenIO() {
  if (socket_ != nullptr) {
    // Callers open only a handler that is not open; a socket still allocated
    // here would leak, so close it rather than forget it.
    if (socket_->IsAllocated) socket_->ShutAndClose(true);
    socket_->ForgetSocket(true);
  } else {
    socket_ = std::make_unique<TIdSocketHandle>();
  }
}

bool TIdIOHandlerSocket::WaitReadable(std::int32_t timeout_ms) {
  return socket_->ReadableWithin(timeout_ms);
}

int TIdIOHandlerSocket::ReceiveBytes(void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket();
  return socket_->ReceiveRaw(buffer, length, 0);
}

int TIdIOHandlerSocket::SendBytes(const void* buffer, int length) {
  if (!IsOpen()) throw EIdClosedSocket();
  return socket_->SendRaw(buffer, length, 0);
}

TIdSocksInfo* TIdIOHandlerSocket::SocksInfo() {
  if (socks_info_ == nullptr) socks_info_ = new TIdSocksInfo(this);  // owned as a component
  return socks_info_;
}

void TIdIOHandlerSocket::SetSocksInfo(TIdSocksInfo* info) {
  if (info != nullptr && info->Owner() != nullptr) {
    if (socks_info_ != nullptr && socks_info_->Owner() == this) delete socks_info_;
    socks_info_ = info;
    FreeNotification(info);
  } else if (info != nullptr) {
    SocksInfo()->Assign(*info);
  }
}

void TIdIOHandlerSocket::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component == socks_info_) socks_info_ = nullptr;
  TIdIOHandler::Notification(component, operation);
}
