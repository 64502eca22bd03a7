// The operations the connection builds on its byte stream
// (tcp_connection.cpp): lines with a terminator and a maximum length,
// numbered replies to commands, integers, streams and files sent in chunks,
// and the reads that take whatever is there. The library offers them; the
// monitor itself uses none.

#include "transport/tcp_connection.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/transport_errors.h"

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
