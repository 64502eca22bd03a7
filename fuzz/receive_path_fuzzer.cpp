// The receive path, from the socket stack up to the log, fed one stream in
// different chunkings: all that a receive asks for, one byte per receive,
// and sizes chosen by the input. TCP may split a stream anywhere, so the log
// (with a fixed clock) must come out byte for byte the same every time.
// Besides, the requests the client sent must match the records a plain
// reference finds in the stream, and for each chunking the monitor's loop
// must do, write by write, what the byte-by-byte loop does (same blocks,
// same failed block, same requests and receives before each write, same
// pauses), also when one write of the log fails.
//
// The byte-by-byte loop writes its log through a writer of its own, so this
// also holds the monitor's text output to a plain model of it, for each
// reader: a file, a console, a terminal and the journal.
//
// Input: byte 0 seeds the chosen chunk sizes (bit 7 also sets a dead-path
// time-out), byte 1 sets the most bytes collected while waiting for a
// terminator (16 to 4096), byte 2 chooses how the peer ends (bit 0: orderly
// close or reset), where the log goes (bits 1 and 2: file, console, terminal
// or journal) and which write of the log fails (bits 3 to 7: none, or that
// write counted from 1); the rest is the stream.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "monitor/run_monitor.h"
#include "monitor/testing/fake_console_sink.h"
#include "monitor/testing/monitor_over_stream.h"
#include "monitor/testing/receive_path_comparison.h"

namespace {

struct Run {
  std::string log;
  StreamRunResult result;
};

Run RunWith(const PeerScript& script, std::size_t limit, LogKind log) {
  const bool character_device = log == LogKind::kConsole || log == LogKind::kTerminal;
  const StreamReader reader = log == LogKind::kTerminal  ? StreamReader::kTerminal
                              : log == LogKind::kJournal ? StreamReader::kJournal
                                                         : StreamReader::kPlain;
  FakeConsoleSink sink(character_device, reader);
  Run run;
  run.result = RunMonitorOverStream(script, limit, sink);
  run.log = sink.Written();
  return run;
}

// Requests a correct monitor sends for `stream`: one for the connection and
// one after each complete record, counted up to the byte that finds the
// collected text full.
std::size_t ExpectedRequests(std::string_view stream, std::size_t limit) {
  constexpr std::string_view kTerminator = "</StatusChange>";
  std::string text;
  std::size_t records = 0;
  for (char byte : stream) {
    if (byte == 0) continue;
    if (text.size() >= limit) break;
    text.push_back(byte);
    if (text.size() >= kTerminator.size() &&
        std::string_view(text).substr(text.size() - kTerminator.size()) == kTerminator) {
      ++records;
      text.clear();
    }
  }
  return 1 + records;
}

[[noreturn]] void Fail(const char* what, const std::string& a, const std::string& b) {
  std::size_t at = 0;
  while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
  std::fprintf(stderr, "%s: sizes %zu and %zu, first difference at byte %zu\n", what, a.size(),
               b.size(), at);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const std::uint32_t seed = data[0];
  const std::size_t limit = 16 + 16 * static_cast<std::size_t>(data[1]) % 4096;
  const int end_code = (data[2] & 1) != 0 ? 10054 : 0;
  const std::int32_t dead_path_timeout_s = (data[0] & 0x80) != 0 ? 30 : 0;
  const LogKind log = kEveryLogKind[(data[2] >> 1) & 3];
  const std::size_t failing_write = data[2] >> 3;
  const std::string_view stream(reinterpret_cast<const char*>(data + 3), size - 3);

  const PeerScript whole_script = StreamScript(stream, nullptr, end_code);
  const Run whole = RunWith(whole_script, limit, log);

  const PeerScript single_script = StreamScript(stream, ChunksOf(1), end_code);
  const Run single = RunWith(single_script, limit, log);

  // A function of the bytes already served, so that every run with this
  // script gets the same chunks.
  const std::size_t most = std::size_t{1} << (seed % 9);  // 1 to 256 bytes per receive
  const PeerScript chosen_script = StreamScript(
      stream,
      [seed, most](std::size_t served) {
        std::uint32_t state = (seed + static_cast<std::uint32_t>(served)) * 2654435761U + 1;
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return 1 + state % most;
      },
      end_code);
  const Run chosen = RunWith(chosen_script, limit, log);

  // The loop against the byte-by-byte reference, in each chunking.
  ComparisonCase comparison;
  comparison.settings.received_text_limit = limit;
  comparison.settings.dead_path_timeout_s = dead_path_timeout_s;
  comparison.log = log;
  comparison.failing_write = failing_write;
  for (const PeerScript* chunking : {&chosen_script, &single_script, &whole_script}) {
    comparison.script = *chunking;
    const LoopRecord reference = RecordRun(comparison, MonitorLoop::kByteByByte);
    const LoopRecord fast = RecordRun(comparison, MonitorLoop::kRunMonitor);
    const std::string difference = FirstDifference(reference, fast);
    if (!difference.empty()) {
      std::fprintf(stderr, "the loop differs from the byte-by-byte loop: %s\n", difference.c_str());
      std::abort();
    }
  }

  if (whole.log != single.log) Fail("one-byte receives changed the log", whole.log, single.log);
  if (whole.log != chosen.log) Fail("chosen chunks changed the log", whole.log, chosen.log);

  const std::size_t requests = ExpectedRequests(stream, limit);
  const std::size_t request_size = std::string_view("GET /\r\n").size();
  for (const Run* run : {&whole, &single, &chosen}) {
    if (run->result.bytes_sent != requests * request_size) {
      std::fprintf(stderr, "sent %zu bytes, expected %zu requests\n", run->result.bytes_sent,
                   requests);
      std::abort();
    }
    // The end of the stream: a failed read, then a refused reconnect.
    if (run->result.pauses !=
        std::vector<std::int32_t>{kPauseAfterFailedReadMs, kPauseAfterFailedConnectMs}) {
      std::fprintf(stderr, "unexpected pauses (%zu)\n", run->result.pauses.size());
      std::abort();
    }
  }
  return 0;
}
