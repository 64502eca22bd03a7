// ExtractBetween and the one-pass ExtractEachBetween against a plain
// reference written from its rules with byte-by-byte loops, and the
// incremental terminator search against a search of the whole text after
// every byte.
//
// Input: byte 0 and byte 1 are the lengths of the start and end markers (each
// modulo 16), taken from the bytes that follow; the rest is the text. Short
// markers keep matches likely; the fuzzer's comparison tracing finds the rest.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/extract_between.h"
#include "monitor/record_terminator_search.h"

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// The first position at or after `from` where `marker` starts, by plain loops.
std::size_t FindFrom(std::string_view text, std::string_view marker, std::size_t from) {
  for (std::size_t at = from; at + marker.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < marker.size() && text[at + i] == marker[i]) ++i;
    if (i == marker.size()) return at;
  }
  return kNotFound;
}

std::string Reference(std::string_view text, std::string_view start, std::string_view end) {
  std::size_t begin = 0;
  if (!start.empty()) {
    std::size_t found = FindFrom(text, start, 0);
    if (found == kNotFound) return "";
    begin = found + start.size();
  }
  std::size_t stop = text.size();
  if (!end.empty()) {
    std::size_t found = FindFrom(text, end, begin);
    if (found != kNotFound) stop = found;
  }
  return std::string(text.substr(begin, stop - begin));
}

// The text seen since the last find holds no earlier occurrence, so it holds
// the marker exactly when the marker ends at the newest byte.
void CheckIncrementalSearch(std::string_view text, std::string_view marker) {
  if (marker.empty()) return;
  IncrementalMarkerSearch search(marker);
  std::size_t since = 0;  // where the text seen since the last find begins
  for (std::size_t length = 1; length <= text.size(); ++length) {
    search.Feed(text[length - 1]);
    bool whole = length - since >= marker.size() &&
                 FindFrom(text.substr(0, length), marker, length - marker.size()) != kNotFound;
    if (search.Found() != whole) std::abort();
    if (whole) {
      search.Reset();  // as the monitor does after a record
      since = length;
    }
  }
}

// The one-pass extraction of several pairs, each against the reference: the
// fuzzer's own markers when they meet its requirements (each at least 3
// bytes, one first byte), both ways round, beside a record's tags.
void CheckEachBetween(std::string_view text, std::string_view start, std::string_view end) {
  std::vector<MarkerPair> pairs = {{"<Event>", "</Event>"},
                                   {"<State>", "</State>"},
                                   {"<StatusChange>", "</StatusChange>"},
                                   {"<LogRec.SyslogID>", "</LogRec.SyslogID>"}};
  if (start.size() >= 3 && end.size() >= 3 && start[0] == end[0]) {
    if (start[0] != '<') pairs.clear();
    pairs.push_back({start, end});
    pairs.push_back({end, start});
  }
  std::vector<std::string_view> values(pairs.size());
  ExtractEachBetween(text, pairs, values);
  for (std::size_t i = 0; i < pairs.size(); ++i) {
    if (values[i] != Reference(text, pairs[i].start, pairs[i].end)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  std::size_t start_size = std::min<std::size_t>(data[0] % 16, rest.size());
  std::string_view start = rest.substr(0, start_size);
  rest.remove_prefix(start_size);
  std::size_t end_size = std::min<std::size_t>(data[1] % 16, rest.size());
  std::string_view end = rest.substr(0, end_size);
  std::string_view text = rest.substr(end_size);

  if (ExtractBetween(text, start, end) != Reference(text, start, end)) std::abort();
  CheckEachBetween(text, start, end);
  CheckIncrementalSearch(text, start);
  CheckIncrementalSearch(text, kRecordTerminator);
  return 0;
}
