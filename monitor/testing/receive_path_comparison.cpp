#include "monitor/testing/receive_path_comparison.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "platform/console.h"

namespace {

// Records every write with the peer's progress at that moment; fails one
// chosen write.
class RecordingSink final : public ConsoleSink {
 public:
  RecordingSink(LogKind kind, std::size_t failing_write, LoopRecord& record)
      : kind_(kind), failing_write_(failing_write), record_(record) {}

  int Open() override { return 0; }
  bool IsCharacterDevice() const override {
    return kind_ == LogKind::kConsole || kind_ == LogKind::kTerminal;
  }
  StreamReader Reader() const override {
    switch (kind_) {
      case LogKind::kTerminal:
        return StreamReader::kTerminal;
      case LogKind::kJournal:
        return StreamReader::kJournal;
      default:
        return StreamReader::kPlain;
    }
  }
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
  LogKind kind_;
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

// Where two blocks first differ, with a few bytes around it, control bytes
// escaped: a journal line is thousands of bytes long.
std::string WhereTheyDiffer(const std::string& expected, const std::string& actual) {
  std::size_t at = 0;
  while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
  const auto around = [at](const std::string& block) {
    const std::size_t from = at < 12 ? 0 : at - 12;
    std::string shown;
    for (char byte : block.substr(from, 24)) {
      const auto value = static_cast<unsigned char>(byte);
      if (value < 0x20 || value >= 0x7F) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", value);
        shown += escaped;
      } else {
        shown += byte;
      }
    }
    return "\"" + shown + "\"";
  };
  return "; first difference at byte " + std::to_string(at) + ": expected " + around(expected) +
         ", got " + around(actual);
}

}  // namespace

const char* LogKindName(LogKind kind) {
  switch (kind) {
    case LogKind::kFile:
      return "file";
    case LogKind::kConsole:
      return "console";
    case LogKind::kTerminal:
      return "terminal";
    case LogKind::kJournal:
      return "journal";
  }
  return "?";
}

LoopRecord RecordRun(const ComparisonCase& run, MonitorLoop loop) {
  LoopRecord record;
  RecordingSink sink(run.log, run.failing_write, record);
  // The gate sees every call the peer serves; the connect thread makes some.
  std::mutex calls_mutex;
  PeerScript script = run.script;
  script.call_gate = [&record, &calls_mutex, gate = run.script.call_gate](const char* call) {
    {
      std::lock_guard<std::mutex> lock(calls_mutex);
      if (!record.calls.empty()) record.calls += ' ';
      record.calls += call;
    }
    return gate && gate(call);
  };
  record.result = RunMonitorOverStream(script, run.settings, sink, loop);
  record.receives = ScriptedPeerStack::Receives();
  return record;
}

std::string FirstDifference(const LoopRecord& expected, const LoopRecord& actual) {
  const std::size_t common = std::min(expected.writes.size(), actual.writes.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (!(expected.writes[i] == actual.writes[i])) {
      return "write " + std::to_string(i + 1) + ": expected " + Describe(expected.writes[i]) +
             ", got " + Describe(actual.writes[i]) +
             WhereTheyDiffer(expected.writes[i].block, actual.writes[i].block);
    }
  }
  if (expected.writes.size() != actual.writes.size()) {
    return "expected " + std::to_string(expected.writes.size()) + " writes, got " +
           std::to_string(actual.writes.size());
  }
  if (expected.result.pauses != actual.result.pauses) return "the pauses differ";
  if (expected.calls != actual.calls) {
    return "expected the calls \"" + expected.calls + "\", got \"" + actual.calls + "\"";
  }
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
