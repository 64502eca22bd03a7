#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "platform/console.h"
#include "platform/never_destroyed.h"
#include "runtime/runtime_errors.h"

namespace {

// Without this a write to a pipe whose reader has gone kills the process
// silently; ignored, the write fails with EPIPE and the log reports it.
void IgnoreBrokenPipeSignal() {
  static std::once_flag once;
  std::call_once(once, [] { signal(SIGPIPE, SIG_IGN); });
}

// Waits until a descriptor that was left non-blocking by whoever started us
// can take more bytes. Returns 0 or an errno value.
int WaitWritable(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  while (poll(&entry, 1, -1) < 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

// Whether the process was started with the descriptor open. A stream that
// was missing at start stays missing: its number may since have been handed
// out by an open() or socket(), and the log must not go into that file.
bool StartedWithDescriptor(int fd) {
  static const bool output = fcntl(STDOUT_FILENO, F_GETFD) != -1;
  static const bool error = fcntl(STDERR_FILENO, F_GETFD) != -1;
  return fd == STDOUT_FILENO ? output : error;
}

// Noted while static objects are initialised, before main() opens anything.
const bool kNotedAtLoad = StartedWithDescriptor(STDOUT_FILENO);

class DescriptorSink final : public ConsoleSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}

  int Open() override {
    if (fd_ == STDOUT_FILENO) IgnoreBrokenPipeSignal();
    if (!StartedWithDescriptor(fd_)) return IoErrorNumberFromSystemError(EBADF);
    struct stat status;
    if (fstat(fd_, &status) != 0) return IoErrorNumberFromSystemError(errno);
    is_character_device_ = S_ISCHR(status.st_mode);
    return 0;
  }

  bool IsCharacterDevice() const override { return is_character_device_; }

  int Write(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t written = write(fd_, data, size);
      if (written > 0) {
        data += written;
        size -= static_cast<std::size_t>(written);
        continue;
      }
      if (written < 0 && errno == EINTR) continue;
      if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (int error = WaitWritable(fd_)) return IoErrorNumberFromSystemError(error);
        continue;
      }
      // A write that takes nothing without an error would loop forever;
      // treat it like a device that is full.
      return IoErrorNumberFromSystemError(written < 0 ? errno : ENOSPC);
    }
    return 0;
  }

 private:
  const int fd_;
  bool is_character_device_ = false;
};

}  // namespace

ConsoleSink& StandardStreamSink(StandardStream stream) {
  // Never destroyed: the runtime may still write during process exit.
  static NeverDestroyed<DescriptorSink> output(STDOUT_FILENO);
  static NeverDestroyed<DescriptorSink> error(STDERR_FILENO);
  return stream == StandardStream::kOutput ? output.Get() : error.Get();
}

int IoErrorNumberFromSystemError(int system_error) {
  // The runtime's numbers for the errors that mean the same; every other
  // errno keeps its own number, marked where that number is one with a fixed
  // text of a different meaning (EINTR is 4, EIO is 5, ENETDOWN is 100).
  switch (system_error) {
    case ENOENT:
      return 2;  // File not found
    case EMFILE:
      return 4;  // Too many open files
    case EACCES:
    case EPERM:
      return 5;  // File access denied
    case EBADF:
      return 105;  // the stream is not open
    default:
      break;
  }
  if (EInOutError::HasFixedText(system_error)) return system_error | kIoErrorWithoutFixedText;
  return system_error;
}

void ConvertToConsoleCharacterSet(char*, std::size_t) {
  // A terminal shows the bytes in the one character set of the locale.
}
