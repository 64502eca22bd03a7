#include "monitor/testing/receive_path_comparison.h"

#include <algorithm>

#include "platform/console.h"

namespace {

// Records every write with the peer's progress at that moment; fails one
// chosen write.
class RecordingSink final : public ConsoleSink {
 public:
  RecordingSink(bool character_device, std::size_t failing_write, LoopRecord& record)
      : character_device_(character_device), failing_write_(failing_write), record_(record) {}

  int Open() override { return 0; }
  bool IsCharacterDevice() const override { return character_device_; }
  int Write(const char* data, std::size_t size) override {
    LoopRecord::Write write;
    write.block.assign(data, size);
    write.failed = ++calls_ == failing_write_;
    write.bytes_sent = ScriptedPeerStack::BytesSent();
    write.receives = ScriptedPeerStack::Receives();
    record_.writes.push_back(std::move(write));
    return record_.writes.back().failed ? 101 : 0;  // 101: disk full
  }

 private:
  bool character_device_;
  std::size_t failing_write_;
  std::size_t calls_ = 0;
  LoopRecord& record_;
};

std::string Describe(const LoopRecord::Write& write) {
  std::string text = "\"" + write.block.substr(0, 40) + (write.block.size() > 40 ? "...\"" : "\"");
  text += " (" + std::to_string(write.block.size()) + " bytes";
  if (write.failed) text += ", failed";
  text += ", " + std::to_string(write.bytes_sent) + " bytes sent, " +
          std::to_string(write.receives) + " receives)";
  return text;
}

}  // namespace

LoopRecord RecordRun(const ComparisonCase& run, MonitorLoop loop) {
  LoopRecord record;
  RecordingSink sink(run.console, run.failing_write, record);
  record.result = RunMonitorOverStream(run.script, run.received_text_limit, sink, loop);
  record.receives = ScriptedPeerStack::Receives();
  return record;
}

std::string FirstDifference(const LoopRecord& expected, const LoopRecord& actual) {
  const std::size_t common = std::min(expected.writes.size(), actual.writes.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (!(expected.writes[i] == actual.writes[i])) {
      return "write " + std::to_string(i + 1) + ": expected " + Describe(expected.writes[i]) +
             ", got " + Describe(actual.writes[i]);
    }
  }
  if (expected.writes.size() != actual.writes.size()) {
    return "expected " + std::to_string(expected.writes.size()) + " writes, got " +
           std::to_string(actual.writes.size());
  }
  if (expected.result.pauses != actual.result.pauses) return "the pauses differ";
  if (expected.result.bytes_sent != actual.result.bytes_sent) {
    return "expected " + std::to_string(expected.result.bytes_sent) + " bytes sent, got " +
           std::to_string(actual.result.bytes_sent);
  }
  if (expected.receives != actual.receives) {
    return "expected " + std::to_string(expected.receives) + " receives, got " +
           std::to_string(actual.receives);
  }
  if (expected.result.escaped != actual.result.escaped) {
    return "expected escaped error \"" + expected.result.escaped + "\", got \"" +
           actual.result.escaped + "\"";
  }
  return {};
}
