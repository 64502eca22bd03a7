#include "transport/tcp_connection.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

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

void TIdTCPConnection::WriteInt32(std::int32_t value, bool convert) {
  std::uint32_t bits = static_cast<std::uint32_t>(value);
  if (convert) bits = SocketStack->SockHostToNet32(bits);
  WriteBlock(&bits, 4);
}

void TIdTCPConnection::WriteStreamData(TMemoryStream& stream, bool from_start, std::int64_t count,
                                       bool with_length_prefix) {
  if (from_start) stream.SetPosition(0);
  if (count == 0) count = stream.Size() - stream.Position();
  if (with_length_prefix) WriteInt32(static_cast<std::int32_t>(count), true);
  StartWork(TWorkMode::wmWrite, static_cast<std::int32_t>(count));
  try {
    std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::max(SendBufferSize, 1)));
    while (count > 0) {
      std::int64_t wanted = std::min<std::int64_t>(count, static_cast<std::int64_t>(chunk.size()));
      std::int64_t got = stream.Read(chunk.data(), wanted);
      if (got <= 0) throw EIdNoDataToRead();
      WriteBlock(chunk.data(), static_cast<std::int32_t>(got));
      count -= got;
    }
  } catch (...) {
    FinishWork(TWorkMode::wmWrite);
    throw;
  }
  FinishWork(TWorkMode::wmWrite);
}

namespace {

// EIdFileNotFound only for a file that is not there: a folder, or a file the
// user may not read, is named with its reason, so that nobody goes looking
// for a file that exists. `open_errno` is what the failed open left in errno
// (0 when it said nothing).
[[noreturn]] void RaiseOpenFailure(const std::string& file_name, int open_errno) {
  std::error_code status_error;
  std::filesystem::file_status status = std::filesystem::status(file_name, status_error);
  if (status.type() == std::filesystem::file_type::not_found) {
    throw EIdFileNotFound("File \"" + file_name + "\" not found");
  }
  std::error_code reason;
  if (std::filesystem::is_directory(status)) {
    reason = std::make_error_code(std::errc::is_a_directory);
  } else if (open_errno != 0) {
    reason = std::error_code(open_errno, std::generic_category());
  } else {
    reason = status_error;
  }
  std::string text = "File \"" + file_name + "\" cannot be opened";
  if (reason) text += ": " + reason.message();
  throw EIdTCPConnectionError(text);
}

}  // namespace

std::int64_t TIdTCPConnection::SendFile(const std::string& file_name, bool /*allow_direct_send*/) {
  // The socket layer offers no direct file send, so the file always goes
  // through WriteBlock in SendBufferSize chunks, intercepts included.
  errno = 0;
  std::ifstream file(file_name, std::ios::binary | std::ios::ate);
  const int open_errno = errno;
  // Some systems open a folder for reading; it has no bytes to send.
  std::error_code ignored;
  if (!file || std::filesystem::is_directory(file_name, ignored)) {
    RaiseOpenFailure(file_name, open_errno);
  }
  std::int64_t size = static_cast<std::int64_t>(file.tellg());
  file.seekg(0);
  StartWork(TWorkMode::wmWrite, static_cast<std::int32_t>(size));
  try {
    std::vector<char> chunk(static_cast<std::size_t>(std::max(SendBufferSize, 1)));
    std::int64_t left = size;
    while (left > 0) {
      file.read(chunk.data(), static_cast<std::streamsize>(std::min<std::int64_t>(
                                  left, static_cast<std::int64_t>(chunk.size()))));
      std::streamsize got = file.gcount();
      if (got <= 0) throw EIdNoDataToRead();
      WriteBlock(chunk.data(), static_cast<std::int32_t>(got));
      left -= got;
    }
  } catch (...) {
    FinishWork(TWorkMode::wmWrite);
    throw;
  }
  FinishWork(TWorkMode::wmWrite);
  return size;
}

std::string TIdTCPConnection::TakeAvailable() {
  if (IsConnected()) FillInput(false, -1, true);
  return PendingInput.TakeText(static_cast<std::int32_t>(PendingInput.Size()));
}

std::string TIdTCPConnection::ReadAll() {
  std::string all;
  StartWork(TWorkMode::wmRead, 0);
  try {
    while (IsConnected()) all += TakeAvailable();
    // A connection that had ended before this call may still hold received
    // bytes that nobody read: they are the rest of the text, not left behind.
    all += PendingInput.TakeText(static_cast<std::int32_t>(PendingInput.Size()));
  } catch (...) {
    FinishWork(TWorkMode::wmRead);
    throw;
  }
  FinishWork(TWorkMode::wmRead);
  return all;
}

namespace {

// How many bytes at the end of `unread` may begin a terminator that is still
// arriving: the longest end that starts `term`, and for the LF terminator a
// CR, which leaves the line with it. They do not count against the line's
// maximum length until the next bytes show that they are the line's own.
std::size_t TerminatorStartAtEnd(std::string_view unread, std::string_view term) {
  if (term == "\n") return !unread.empty() && unread.back() == '\r' ? 1 : 0;
  for (std::size_t k = std::min(unread.size(), term.size() - 1); k > 0; --k) {
    if (unread.substr(unread.size() - k) == term.substr(0, k)) return k;
  }
  return 0;
}

}  // namespace

std::string TIdTCPConnection::ReadTextLine(const std::string& terminator, std::int32_t timeout_ms,
                                           std::int32_t max_length) {
  const std::string term = terminator.empty() ? "\n" : terminator;
  if (max_length == -1) max_length = MaxLineLength;
  std::int64_t searched = 0;  // bytes known not to start the terminator
  for (;;) {
    const char* start = reinterpret_cast<const char*>(PendingInput.UnreadStart());
    std::string_view unread(start, static_cast<std::size_t>(PendingInput.Size()));
    std::size_t found = unread.find(term, static_cast<std::size_t>(searched));
    std::size_t line_length;
    if (found == std::string_view::npos) {
      line_length = unread.size() - TerminatorStartAtEnd(unread, term);
    } else {
      line_length = found;
      if (term == "\n" && found > 0 && unread[found - 1] == '\r') --line_length;
    }
    if (max_length > 0 && line_length > static_cast<std::size_t>(max_length)) {
      if (MaxLineAction == TIdMaxLineAction::maException) throw EIdReadLnMaxLineLengthExceeded();
      return PendingInput.TakeText(max_length);  // the rest stays for the next call
    }
    if (found != std::string_view::npos) {
      std::string line = PendingInput.TakeText(static_cast<std::int32_t>(found));
      PendingInput.Discard(static_cast<std::int32_t>(term.size()));
      if (term == "\n" && !line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    searched = std::max<std::int64_t>(
        0, static_cast<std::int64_t>(unread.size()) - static_cast<std::int64_t>(term.size()) + 1);
    FillInput(true, timeout_ms, true);
    DetectDisconnect(true, true);
  }
}

std::string TIdTCPConnection::ReadNonEmptyLine(int tries) {
  std::string line;
  for (int i = 0; i < tries; ++i) {
    line = ReadTextLine("\n");
    if (line.find_first_not_of(" \t\r\n") != std::string::npos) break;
  }
  return line;
}

void TIdTCPConnection::PollForClose(bool raise_when_closed) {
  FillInput(raise_when_closed, 1, false);
}

// --- command/response ---------------------------------------------------------

int TIdTCPConnection::SendCommand(const std::string& command, std::initializer_list<int> allowed) {
  WriteLine(command);
  ReadReply();
  CheckReplyCode(allowed);
  return LastReply.NumericCode;
}

int TIdTCPConnection::ReadReply() {
  // "nnn-text" lines continue a reply, "nnn text" (or "nnn") ends it.
  LastReply.Clear();
  for (;;) {
    std::string line = ReadTextLine("\n");
    bool numbered = line.size() >= 3 && std::all_of(line.begin(), line.begin() + 3,
                                                    [](char c) { return c >= '0' && c <= '9'; });
    if (!numbered) {
      LastReply.Text.push_back(line);
      continue;
    }
    LastReply.NumericCode = std::stoi(line.substr(0, 3));
    LastReply.Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
    if (line.size() == 3 || line[3] != '-') return LastReply.NumericCode;
  }
}

std::vector<std::string> TIdTCPConnection::ReadReplyLines() {
  ReadReply();
  return LastReply.Text;
}

void TIdTCPConnection::CheckReplyCode(std::initializer_list<int> allowed) {
  // A caller that names no codes (SendCommand's default) takes any reply.
  if (allowed.size() == 0) return;
  if (std::find(allowed.begin(), allowed.end(), LastReply.NumericCode) == allowed.end()) {
    RaiseReplyError();
  }
}

void TIdTCPConnection::RaiseReplyError() {
  throw EIdProtocolReplyError(LastReply.NumericCode, LastReply.JoinedText());
}

void TIdTCPConnection::RaiseReplyErrorAs(const TIdReplyErrorRaiser& raise) {
  if (raise) raise(LastReply.NumericCode, LastReply.JoinedText());
  // A raiser that returns raises nothing of its own: fall back to the
  // general reply error.
  throw EIdProtocolReplyError(LastReply.NumericCode, LastReply.JoinedText());
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
