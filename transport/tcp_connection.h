#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "transport/managed_buffer.h"
#include "transport/rfc_reply.h"
#include "transport/simple_buffer.h"
#include "transport/transport_component.h"

class TIdIOHandler;
class TIdConnectionIntercept;

enum class TIdMaxLineAction { maException, maSplit };

/// Raises the caller's own error class for a reply (RaiseReplyErrorAs).
using TIdReplyErrorRaiser = std::function<void(int reply_code, const std::string& text)>;

/// A buffered byte stream over an I/O handler: single bytes are served from
/// the input buffer, which is refilled by one receive of up to
/// RecvBufferSize() bytes when it runs empty; lines go out with CR LF. Used by
/// one thread at a time; every operation blocks its caller.
///
/// The stream (reading, writing, closing and the properties) is
/// tcp_connection.cpp; the operations built on it (lines, streams, files,
/// commands and their replies) are tcp_connection_commands.cpp.
class TIdTCPConnection : public TIdComponent {
 public:
  explicit TIdTCPConnection(TComponent* owner);
  ~TIdTCPConnection() override;

  // --- the stream -----------------------------------------------------------
  /// True while a handler is assigned and open; finishes a disconnect that a
  /// closed stream left pending. Raises nothing of its own.
  virtual bool IsConnected();
  /// Closes the socket, frees a handler the connection created, and sends
  /// "Disconnecting.", OnDisconnected, "Disconnected." on every call.
  virtual void CloseConnection();
  /// The next byte, waiting as long as ReadTimeout allows. Buffered bytes are
  /// delivered before a close is reported (EIdConnClosedGracefully).
  std::uint8_t ReadNextByte();
  /// Fills `buffer` with exactly `count` bytes.
  void ReadExact(void* buffer, std::int32_t count);
  /// The received bytes that single-byte reads would now deliver without a
  /// socket call, for a reader that takes several of them in one step; see
  /// ConsumeBufferedRun. Empty when the next byte must come from ReadNextByte:
  /// nothing is buffered, the stream is not open (IsConnected would not
  /// answer true after a byte), or someone hears each removal from the input
  /// buffer (OnWork is assigned, or PendingInput's RemovalCallback is not the
  /// connection's own). Valid until the next operation on the connection.
  std::string_view BufferedRun();
  /// Consumes the first `count` bytes of a non-empty BufferedRun(): the same
  /// effect as `count` calls of ReadNextByte, each followed by IsConnected
  /// (every one of which answers true). Raises nothing when `count` is at
  /// most the run's size.
  void ConsumeBufferedRun(std::int32_t count);
  virtual void WriteText(const std::string& text);
  virtual void WriteLine(const std::string& text);
  /// Sends every byte, in order, before it returns; raises on failure and
  /// leaves the unsent rest unsent.
  void WriteBlock(const void* bytes, std::int32_t count);
  void WriteInt32(std::int32_t value, bool convert = true);
  /// Optional 4-byte length prefix in network order, then chunks of at most
  /// SendBufferSize bytes; `count` 0 sends the rest of the stream.
  virtual void WriteStreamData(TMemoryStream& stream, bool from_start, std::int64_t count,
                               bool with_length_prefix);
  /// Sends a whole file; returns its size. EIdFileNotFound when missing.
  virtual std::int64_t SendFile(const std::string& file_name, bool allow_direct_send = true);
  /// Whatever one receive brings (after a wait of the default time-out),
  /// plus what was buffered; possibly empty.
  std::string TakeAvailable();
  virtual std::string ReadAll();
  /// One line up to `terminator` (LF when empty; a CR before an LF is
  /// dropped). `max_length` -1 means MaxLineLength, 0 no limit; it counts
  /// the line's bytes without the terminator (and without that CR).
  virtual std::string ReadTextLine(const std::string& terminator = "", std::int32_t timeout_ms = -1,
                                   std::int32_t max_length = -1);
  std::string ReadNonEmptyLine(int tries);
  virtual void PollForClose(bool raise_when_closed);
  /// Receives once into the input buffer; see the implementation for the
  /// order of checks. Returns the count received, -1 on an unraised time-out.
  virtual std::int32_t FillInput(bool raise_when_closed, std::int32_t wait_limit,
                                 bool raise_on_expiry);
  virtual void DetectDisconnect(bool raise_when_closed, bool even_if_buffered);
  /// Marks the stream closed and closes the socket, without notifications.
  virtual void DropSocket();
  virtual void ClearInputState();

  // --- command/response -------------------------------------------------------
  virtual int SendCommand(const std::string& command, std::initializer_list<int> allowed = {});
  virtual int ReadReply();
  /// ReadReply, then its text lines.
  std::vector<std::string> ReadReplyLines();
  virtual void CheckReplyCode(std::initializer_list<int> allowed);
  [[noreturn]] virtual void RaiseReplyError();
  [[noreturn]] virtual void RaiseReplyErrorAs(const TIdReplyErrorRaiser& raise);

  // --- properties -------------------------------------------------------------
  TIdIOHandler* IOHandler() const { return io_handler_; }
  /// Frees a handler the connection owns before taking the new one; the
  /// handler it already has changes nothing (and stays owned if it was).
  void SetIOHandler(TIdIOHandler* handler);
  TIdConnectionIntercept* Intercept() const { return intercept_; }
  void SetIntercept(TIdConnectionIntercept* intercept);
  bool CloseSeen() const { return close_seen_; }
  bool OwnsIOHandler() const { return owns_io_handler_; }

  bool ASCIIFilter = false;
  TIdMaxLineAction MaxLineAction = TIdMaxLineAction::maException;
  std::int32_t MaxLineLength = 16384;
  TNotifyEvent OnDisconnected;
  std::int32_t ReadTimeout = 0;  // 0: wait without limit
  /// The most bytes asked for in one receive.
  std::int32_t RecvBufferSize() const { return recv_buffer_size_; }
  /// Raises EIdTCPConnectionError, and keeps the size it had, for a size
  /// below 1: a receive of 0 bytes would look like the peer's close.
  void SetRecvBufferSize(std::int32_t size);
  std::int32_t SendBufferSize = 32768;
  TIdManagedBuffer PendingInput;
  TIdRFCReply GreetingReply;
  TIdRFCReply LastReply;

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  virtual void FireDisconnected();

  bool owns_io_handler_ = false;

 private:
  // PendingInput's removal callback: reports the bytes read as work.
  struct ReadWorkReporter {
    TIdTCPConnection* connection;
    void operator()(TIdSimpleBuffer* buffer, std::int32_t count) const;
  };

  std::int32_t ReceiveOnce(bool raise_when_closed);

  bool close_seen_ = false;
  std::int32_t recv_buffer_size_ = 32768;
  TIdIOHandler* io_handler_ = nullptr;
  TIdConnectionIntercept* intercept_ = nullptr;
  TIdSimpleBuffer receive_scratch_;
};
