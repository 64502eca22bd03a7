// The address decisions of the socket stack against references written from
// their rules: IsDottedQuad, ParseAddressText (which raises EConvertError for
// a piece that is not a whole number), and what HostToIP does with a host
// name: "LOCALHOST" in any letter case without a lookup, a dotted quad
// unchanged without a lookup, anything else looked up. The input is the text.

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runtime/runtime_errors.h"
#include "transport/sockets_library_stack.h"

namespace {

// The real stack, with the name lookup replaced by a recording stand-in.
class LookupRecordingStack final : public TIdStackWindows {
 public:
  std::string SockLookupHost(const std::string& host) override {
    ++lookups;
    return "looked up: " + host;
  }
  int lookups = 0;
};

// The text-to-integer conversion: an optional sign, then decimal digits, the
// value within a 32-bit signed integer; nothing else converts.
std::optional<long long> ReferenceInteger(const std::string& piece) {
  std::size_t i = 0;
  bool negative = false;
  if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) negative = piece[i++] == '-';
  if (i == piece.size()) return std::nullopt;
  long long value = 0;
  for (; i < piece.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(piece[i]))) return std::nullopt;
    value = std::min(value * 10 + (piece[i] - '0'), 1LL << 40);  // far past the range is enough
  }
  if (negative) value = -value;
  if (value < INT_MIN || value > INT_MAX) return std::nullopt;
  return value;
}

// The text cut at each of the first `cuts` dots; the last piece keeps the
// rest (dots included), and pieces past the end of the text are empty.
std::vector<std::string> Pieces(const std::string& text, int cuts) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  bool ended = false;
  for (int i = 0; i < cuts; ++i) {
    std::size_t dot = ended ? std::string::npos : text.find('.', start);
    if (dot == std::string::npos) {
      pieces.push_back(ended ? "" : text.substr(start));
      ended = true;
      continue;
    }
    pieces.push_back(text.substr(start, dot - start));
    start = dot + 1;
  }
  pieces.push_back(ended ? "" : text.substr(start));
  return pieces;
}

bool ReferenceIsDottedQuad(const std::string& text) {
  for (const std::string& piece : Pieces(text, 3)) {
    std::optional<long long> value = ReferenceInteger(piece);
    if (!value || *value < 0 || *value > 255) return false;
  }
  return true;
}

// Null when a piece does not convert.
std::optional<TIdIPv4Bytes> ReferenceParse(const std::string& text) {
  std::vector<std::string> pieces = Pieces(text, 4);  // a fifth piece is ignored
  TIdIPv4Bytes bytes{};
  for (int i = 0; i < 4; ++i) {
    std::optional<long long> value = ReferenceInteger(pieces[i]);
    if (!value) return std::nullopt;
    bytes[i] = static_cast<std::uint8_t>(((*value % 256) + 256) % 256);
  }
  return bytes;
}

bool IsLocalhost(const std::string& text) {
  const std::string upper = "LOCALHOST";
  if (text.size() != upper.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) != upper[i]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static LookupRecordingStack* stack = new LookupRecordingStack();  // loads the library once
  const std::string text(reinterpret_cast<const char*>(data), size);

  const bool dotted = TIdStack::IsDottedQuad(text);
  if (dotted != ReferenceIsDottedQuad(text)) std::abort();

  std::optional<TIdIPv4Bytes> expected = ReferenceParse(text);
  try {
    TIdIPv4Bytes bytes = stack->ParseAddressText(text);
    if (!expected || bytes != *expected) std::abort();
  } catch (const EConvertError&) {
    if (expected) std::abort();
  }
  // The two rules agree: a dotted quad has exactly three dots, so each of
  // its four pieces is a number that the parse takes.
  if (dotted && !expected) std::abort();

  stack->lookups = 0;
  const std::string ip = stack->HostToIP(text);
  if (IsLocalhost(text)) {
    if (ip != "127.0.0.1" || stack->lookups != 0) std::abort();
  } else if (dotted) {
    if (ip != text || stack->lookups != 0) std::abort();
  } else if (ip != "looked up: " + text || stack->lookups != 1) {
    std::abort();
  }
  return 0;
}
