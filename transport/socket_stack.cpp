#include "transport/socket_stack.h"

#include <algorithm>
#include <cctype>

#include "runtime/runtime_errors.h"
#include "transport/transport_errors.h"

namespace {

struct ErrorText {
  int code;
  const char* text;
};

// The texts of the Windows Sockets error numbers. 10035 ends in a blank and
// 10066 has no full stop: callers compare these texts byte for byte.
constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
};

bool IsByteValue(const std::string& piece) {
  try {
    int value = StrToInt(piece);
    return value >= 0 && value <= 255;
  } catch (const EConvertError&) {
    return false;
  }
}

bool EqualsIgnoringCase(const std::string& text, const char* upper) {
  std::size_t i = 0;
  for (; i < text.size() && upper[i] != '\0'; ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != upper[i]) return false;
  }
  return i == text.size() && upper[i] == '\0';
}

}  // namespace

std::string TIdStack::SocketErrorText(int code) {
  const char* text = "";
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) text = entry.text;
  }
  return "Socket Error # " + std::to_string(code) + "\r\n" + text;
}

bool TIdStack::CheckSocketResult(int result, std::initializer_list<int> ignore_codes) {
  if (result != ws::kSocketError) return false;
  int code = SockLastError();
  last_error_code_.store(code, std::memory_order_relaxed);
  if (std::find(ignore_codes.begin(), ignore_codes.end(), code) != ignore_codes.end()) {
    return true;
  }
  RaiseSocketFailure(code);
}

void TIdStack::RaiseSocketFailure(int code) { throw EIdSocketError(code, SocketErrorText(code)); }

ws::Socket TIdStack::NewSocket(int type, int protocol) {
  ws::Socket s = SockCreate(ws::kAfInet, type, protocol);
  if (s == ws::kInvalidSocket) throw EIdInvalidSocket();
  return s;
}

std::string TIdStack::HostToIP(const std::string& host) {
  if (EqualsIgnoringCase(host, "LOCALHOST")) return "127.0.0.1";
  if (IsDottedQuad(host)) return host;
  return SockLookupHost(host);
}

bool TIdStack::IsDottedQuad(const std::string& text) {
  std::string pieces[4];
  std::size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    std::size_t dot = start <= text.size() ? text.find('.', start) : std::string::npos;
    if (dot == std::string::npos) {
      // The dots ran out: this piece takes the rest, the ones after stay empty.
      if (start <= text.size()) pieces[i] = text.substr(start);
      start = text.size() + 1;
      break;
    }
    pieces[i] = text.substr(start, dot - start);
    start = dot + 1;
  }
  if (start <= text.size()) pieces[3] = text.substr(start);
  return std::all_of(std::begin(pieces), std::end(pieces), IsByteValue);
}
