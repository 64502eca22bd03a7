// The per-byte cost of the monitor's receive loop, in process: the real
// client, connection, handler and loop over an in-memory peer, the log going
// to a sink that drops it. What is left is the loop's own work per byte:
// taking the byte from the input buffer, the echo, the append with its
// terminator search, the event pump and the connected test. The ByteByByte
// cases run the plain reference loop of the tests (every byte through
// ReadNextByte, its own echo statement, the pump and the connected test) for
// comparison in the same run. time_per_byte is processor time.

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "demo_server/status_record_maker.h"
#include "monitor/testing/monitor_over_stream.h"
#include "platform/console.h"

namespace {

class NullSink final : public ConsoleSink {
 public:
  explicit NullSink(bool character_device) : character_device_(character_device) {}
  int Open() override { return 0; }
  bool IsCharacterDevice() const override { return character_device_; }
  int Write(const char* data, std::size_t size) override {
    benchmark::DoNotOptimize(data);
    written += size;
    return 0;
  }
  std::size_t written = 0;

 private:
  bool character_device_;
};

constexpr std::size_t kStreamBytes = 16 << 20;

const std::string& RecordStream() {
  static const std::string stream = [] {
    StatusRecordMaker maker(7);
    auto moment = std::chrono::system_clock::time_point(std::chrono::seconds(1733800000));
    std::string s;
    while (s.size() < kStreamBytes) {
      s += maker.Next(moment);
      moment += std::chrono::seconds(1);
    }
    return s;
  }();
  return stream;
}

// One record as long as the stream, its terminator at the very end.
const std::string& UnterminatedStream() {
  static const std::string stream = [] {
    std::string s(kStreamBytes - 15, 'a');
    return s + "</StatusChange>";
  }();
  return stream;
}

void RunOver(benchmark::State& state, const std::string& stream, bool console,
             MonitorLoop loop = MonitorLoop::kRunMonitor) {
  const PeerScript script = StreamScript(stream);
  for (auto _ : state) {
    NullSink sink(console);
    RunMonitorOverStream(script, 64 << 20, sink, loop);
    benchmark::DoNotOptimize(sink.written);
  }
  const double bytes = static_cast<double>(stream.size());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stream.size()));
  // Processor seconds per byte of the stream: shown as, e.g., "4n" for 4 ns.
  state.counters["time_per_byte"] = benchmark::Counter(
      bytes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Log to a file or pipe: written out in 128-byte blocks.
void BM_ReceiveLoop_Records_FileLog(benchmark::State& state) {
  RunOver(state, RecordStream(), false);
}
// Log to a console: written out after every echoed byte.
void BM_ReceiveLoop_Records_ConsoleLog(benchmark::State& state) {
  RunOver(state, RecordStream(), true);
}
void BM_ReceiveLoop_OneLongRecord_FileLog(benchmark::State& state) {
  RunOver(state, UnterminatedStream(), false);
}
void BM_ReceiveLoop_ByteByByte_Records_FileLog(benchmark::State& state) {
  RunOver(state, RecordStream(), false, MonitorLoop::kByteByByte);
}
void BM_ReceiveLoop_ByteByByte_Records_ConsoleLog(benchmark::State& state) {
  RunOver(state, RecordStream(), true, MonitorLoop::kByteByByte);
}

BENCHMARK(BM_ReceiveLoop_Records_FileLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveLoop_Records_ConsoleLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveLoop_OneLongRecord_FileLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveLoop_ByteByByte_Records_FileLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveLoop_ByteByByte_Records_ConsoleLog)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
