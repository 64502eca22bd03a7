// The connection's byte stream: what the monitor walks for every byte it
// reads and every request it sends (IsConnected, ReadNextByte, WriteLine,
// CloseConnection), the receive into the input buffer and the detection of
// a closed stream, and the connection's properties. The operations the
// library builds on this stream (lines, replies to commands, streams and
// files) are in tcp_connection_commands.cpp.

#include "transport/tcp_connection.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "transport/anti_freeze.h"
#include "transport/connection_intercept.h"
#include "transport/io_handler.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/transport_errors.h"

TIdTCPConnection::TIdTCPConnection(TComponent* owner) : TIdComponent(owner) {
  PendingInput.RemovalCallback = ReadWorkReporter{this};
}

void TIdTCPConnection::ReadWorkReporter::operator()(TIdSimpleBuffer*, std::int32_t count) const {
  connection->ReportWork(TWorkMode::wmRead, count);
}

TIdTCPConnection::~TIdTCPConnection() {
  try {
    DropSocket();
  } catch (const Exception&) {
    // Nothing can be reported from a destructor; the socket goes with the
    // process or the sockets library.
  }
  if (owns_io_handler_) {
    delete io_handler_;  // its removal notice clears io_handler_
    owns_io_handler_ = false;
  }
}

// --- the stream -------------------------------------------------------------

bool TIdTCPConnection::IsConnected() {
  DetectDisconnect(false, false);
  return io_handler_ != nullptr && io_handler_->IsOpen();
}

void TIdTCPConnection::CloseConnection() {
  ReportStatus(TIdStatus::hsDisconnecting);
  DropSocket();
  if (owns_io_handler_) {
    TIdIOHandler* handler = io_handler_;
    owns_io_handler_ = false;
    io_handler_ = nullptr;
    delete handler;
  }
  FireDisconnected();
  ReportStatus(TIdStatus::hsDisconnected);
}

void TIdTCPConnection::DropSocket() {
  if (io_handler_ == nullptr) return;
  close_seen_ = true;
  if (intercept_ != nullptr) intercept_->InterceptDisconnect();
  io_handler_->CloseIO();
}

void TIdTCPConnection::ClearInputState() {
  PendingInput.Reset();
  close_seen_ = false;
}

void TIdTCPConnection::FireDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::DetectDisconnect(bool raise_when_closed, bool even_if_buffered) {
  bool disconnected;
  if (close_seen_ || io_handler_ == nullptr) {
    if (io_handler_ == nullptr) return;
    if (io_handler_->IsOpen()) {
      // Only the call that still finds the handler open finishes the
      // disconnect, so the notifications come once.
      DropSocket();
      ReportStatus(TIdStatus::hsDisconnected);
      FireDisconnected();
    }
    disconnected = true;
  } else {
    disconnected = !io_handler_->IsOpen();
  }
  if (disconnected && raise_when_closed && (PendingInput.Size() == 0 || even_if_buffered)) {
    throw EIdConnClosedGracefully();
  }
}

std::int32_t TIdTCPConnection::FillInput(bool raise_when_closed, std::int32_t wait_limit,
                                         bool raise_on_expiry) {
  if (wait_limit == -1) wait_limit = ReadTimeout == 0 ? -2 : ReadTimeout;
  std::int32_t n = 0;
  DetectDisconnect(raise_when_closed, false);
  if (!IsConnected()) {
    if (raise_when_closed) throw EIdNotConnected();
    return 0;
  }
  do {
    if (!io_handler_->WaitReadable(wait_limit)) {
      if (raise_on_expiry) throw EIdReadTimeout();
      return -1;
    }
    n = ReceiveOnce(raise_when_closed);
    DetectDisconnect(raise_when_closed, false);
  } while (n == 0 && IsConnected());
  return n;
}

std::int32_t TIdTCPConnection::ReceiveOnce(bool raise_when_closed) {
  receive_scratch_.SetSize(recv_buffer_size_);
  std::int32_t n = 0;
  if (io_handler_ == nullptr) {
    if (raise_when_closed) throw EIdNotConnected();
  } else {
    n = io_handler_->ReceiveBytes(receive_scratch_.Memory(), recv_buffer_size_);
  }
  close_seen_ = n == 0;
  if (n != 0 && SocketStack->CheckSocketResult(n, {ws::kWsaEShutdown, ws::kWsaEConnAborted})) {
    n = 0;
    DropSocket();
    if (PendingInput.Size() == 0) SocketStack->RaiseSocketFailure(SocketStack->LastErrorCode());
  }
  if (n > 0) {
    receive_scratch_.SetSize(n);
    if (intercept_ != nullptr) {
      receive_scratch_.SetPosition(0);
      intercept_->InterceptReceive(&receive_scratch_);
      n = static_cast<std::int32_t>(receive_scratch_.Size());
    }
    std::uint8_t* bytes = receive_scratch_.Memory();
    if (ASCIIFilter) {
      for (std::int32_t i = 0; i < n; ++i) bytes[i] &= 0x7F;
    }
    PendingInput.Append(bytes, n);
  }
  return n;
}

std::uint8_t TIdTCPConnection::ReadNextByte() {
  std::uint8_t byte = 0;
  ReadExact(&byte, 1);
  return byte;
}

void TIdTCPConnection::ReadExact(void* buffer, std::int32_t count) {
  if (count <= 0 || buffer == nullptr) return;
  while (PendingInput.Size() < count) {
    FillInput(true, -1, true);
    DetectDisconnect(true, true);
  }
  if (count == 1) {
    // The monitor reads one byte at a time: spare it a library copy.
    *static_cast<std::uint8_t*>(buffer) = *PendingInput.UnreadStart();
  } else {
    std::memcpy(buffer, PendingInput.UnreadStart(), static_cast<std::size_t>(count));
  }
  PendingInput.Discard(count);
}

std::string_view TIdTCPConnection::BufferedRun() {
  // Each condition makes n single-byte reads of buffered bytes, with the
  // connected test after each, equal to one step:
  // - bytes are buffered: ReadExact takes them without FillInput, so no
  //   socket call, no notification and no error can come between them;
  // - the stream is open and no close is pending: IsConnected answers true
  //   after every byte and finishes no disconnect, and nothing between the
  //   bytes could change that;
  // - nobody hears the removals: with OnWork unassigned, ReportWork only adds
  //   to the work count, and one report of n adds what n reports of 1 add.
  const std::int64_t size = PendingInput.Size();
  if (size <= 0 || close_seen_ || io_handler_ == nullptr || OnWork ||
      PendingInput.RemovalCallback.target<ReadWorkReporter>() == nullptr ||
      !io_handler_->IsOpen()) {
    return {};
  }
  return {reinterpret_cast<const char*>(PendingInput.UnreadStart()),
          static_cast<std::size_t>(size)};
}

void TIdTCPConnection::ConsumeBufferedRun(std::int32_t count) {
  // Where the memory of the consumed bytes goes (emptied or compacted) may
  // differ from one byte at a time; what the buffer delivers next does not.
  PendingInput.Discard(count);
}

void TIdTCPConnection::WriteText(const std::string& text) {
  if (!text.empty()) WriteBlock(text.data(), static_cast<std::int32_t>(text.size()));
}

void TIdTCPConnection::WriteLine(const std::string& text) { WriteText(text + "\r\n"); }

void TIdTCPConnection::WriteBlock(const void* bytes, std::int32_t count) {
  if (count <= 0 || bytes == nullptr) return;
  DetectDisconnect(true, true);
  if (!IsConnected()) throw EIdNotConnected();
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  // An intercept gets a copy, which it may rewrite; without one the bytes go
  // as they are, without a copy for every block.
  std::optional<TIdSimpleBuffer> block;
  if (intercept_ != nullptr) {
    block.emplace();
    block->Write(bytes, count);
    block->SetPosition(0);
    intercept_->InterceptSend(&*block);
    count = static_cast<std::int32_t>(block->Size());
    data = block->Memory();
  }
  std::int32_t sent_total = 0;
  while (sent_total < count) {
    if (io_handler_ == nullptr) throw EIdClosedSocket();
    int sent = io_handler_->SendBytes(data + sent_total, count - sent_total);
    TIdAntiFreezeBase::GiveTime(false, false);
    close_seen_ = sent == 0;
    DetectDisconnect(true, false);
    if (SocketStack->CheckSocketResult(
            sent, {ws::kWsaEShutdown, ws::kWsaEConnAborted, ws::kWsaEConnReset})) {
      DropSocket();
      // The code of the failed send itself: closing the socket may have
      // replaced the library's last error with one of its own.
      SocketStack->RaiseSocketFailure(SocketStack->LastErrorCode());
    }
    ReportWork(TWorkMode::wmWrite, sent);
    sent_total += sent;
  }
}

// --- properties ---------------------------------------------------------------

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler) {
  // Freeing an owned handler and then storing it again would leave a freed
  // handler in place.
  if (handler == io_handler_) return;
  if (io_handler_ != nullptr && owns_io_handler_) {
    TIdIOHandler* old = io_handler_;
    owns_io_handler_ = false;
    io_handler_ = nullptr;
    delete old;
  } else if (io_handler_ != nullptr) {
    RemoveFreeNotification(io_handler_);
  }
  io_handler_ = handler;
  if (handler != nullptr) FreeNotification(handler);
}

void TIdTCPConnection::SetRecvBufferSize(std::int32_t size) {
  if (size < 1) {
    throw EIdTCPConnectionError("Invalid receive buffer size " + std::to_string(size) +
                                ": it must be at least 1 byte.");
  }
  recv_buffer_size_ = size;
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* intercept) {
  if (intercept_ != nullptr) RemoveFreeNotification(intercept_);
  intercept_ = intercept;
  if (intercept != nullptr) FreeNotification(intercept);
}

void TIdTCPConnection::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove) {
    if (component == intercept_) intercept_ = nullptr;
    if (component == io_handler_) {
      io_handler_ = nullptr;
      owns_io_handler_ = false;
    }
  }
  TIdComponent::Notification(component, operation);
}
