#pragma once

// Test support: a console sink that records what is written and fails on
// demand, through the same seam the process's standard output uses.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"

class FakeConsoleSink final : public ConsoleSink {
 public:
  explicit FakeConsoleSink(bool character_device = true, StreamReader reader = StreamReader::kPlain)
      : character_device_(character_device), reader_(reader) {}

  int Open() override {
    ++opens;
    return open_error;
  }
  bool IsCharacterDevice() const override { return character_device_; }
  StreamReader Reader() const override { return reader_; }
  int Write(const char* data, std::size_t size) override {
    std::string_view block(data, size);
    if (fail_write) {
      if (int error = fail_write(block)) {
        failed.emplace_back(block);
        return error;
      }
    }
    writes.emplace_back(block);
    if (after_write) after_write(Written());
    return 0;
  }

  /// Everything written successfully, in order.
  std::string Written() const {
    std::string all;
    for (const std::string& block : writes) all += block;
    return all;
  }

  int open_error = 0;
  int opens = 0;
  /// Decides per block: 0 accepts it, anything else is the I/O error number.
  std::function<int(std::string_view block)> fail_write;
  /// Called with everything written so far after each accepted block; may
  /// throw to stop the writer.
  std::function<void(const std::string& written)> after_write;
  std::vector<std::string> writes;
  std::vector<std::string> failed;

 private:
  bool character_device_;
  StreamReader reader_;
};
