#include <windows.h>

#include "platform/console.h"
#include "platform/never_destroyed.h"

namespace {

constexpr int kFileNotOpenForOutput = 105;

class HandleSink final : public ConsoleSink {
 public:
  explicit HandleSink(DWORD which) : which_(which) {}

  int Open() override {
    // A process started without the stream has no handle for it (null), or
    // an invalid one; either way there is nothing to write to.
    handle_ = GetStdHandle(which_);
    if (handle_ == nullptr || handle_ == INVALID_HANDLE_VALUE) return kFileNotOpenForOutput;
    DWORD type = GetFileType(handle_);
    if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
      return IoErrorNumberFromSystemError(static_cast<int>(GetLastError()));
    }
    is_character_device_ = type == FILE_TYPE_CHAR;
    return 0;
  }

  bool IsCharacterDevice() const override { return is_character_device_; }

  int Write(const char* data, std::size_t size) override {
    while (size > 0) {
      // WriteFile takes a 32-bit count; larger writes go in slices.
      DWORD slice = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(handle_, data, slice, &written, nullptr)) {
        return IoErrorNumberFromSystemError(static_cast<int>(GetLastError()));
      }
      // A write that takes nothing without an error would loop forever;
      // treat it like a device that is full.
      if (written == 0) return IoErrorNumberFromSystemError(ERROR_DISK_FULL);
      data += written;
      size -= written;
    }
    return 0;
  }

 private:
  const DWORD which_;
  HANDLE handle_ = nullptr;
  bool is_character_device_ = false;
};

}  // namespace

ConsoleSink& StandardStreamSink(StandardStream stream) {
  // Never destroyed: the runtime may still write during process exit.
  static NeverDestroyed<HandleSink> output(STD_OUTPUT_HANDLE);
  static NeverDestroyed<HandleSink> error(STD_ERROR_HANDLE);
  return stream == StandardStream::kOutput ? output.Get() : error.Get();
}

int IoErrorNumberFromSystemError(int system_error) {
  // A handle that is not (or no longer) open is a stream that is not open.
  if (system_error == ERROR_INVALID_HANDLE) return kFileNotOpenForOutput;
  return system_error;
}

void ConvertToConsoleCharacterSet(char* text, std::size_t size) {
  // The console shows its OEM code page; the report is built in the ANSI one.
  // The conversion maps byte to byte, so it works in place.
  if (size > 0) CharToOemBuffA(text, text, static_cast<DWORD>(size));
}
