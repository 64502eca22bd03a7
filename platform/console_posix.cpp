#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/syscall.h>
#endif
#include <unistd.h>

#include <cstdlib>
#include <cstring>
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

// Parses a whole decimal number; false for anything else (empty, a sign,
// other characters, too large).
bool ParseDecimal(const char* begin, const char* end, unsigned long long* value) {
  if (begin == end) return false;
  unsigned long long result = 0;
  for (const char* digit = begin; digit != end; ++digit) {
    if (*digit < '0' || *digit > '9') return false;
    unsigned long long next = result * 10 + static_cast<unsigned long long>(*digit - '0');
    if (next / 10 != result) return false;
    result = next;
  }
  *value = result;
  return true;
}

// The service manager names the journal's stream in JOURNAL_STREAM as
// "device:inode"; the descriptor is that stream only when it is that very
// file. A child that inherited the variable but whose output was redirected
// sees another file and is not in the journal.
bool IsJournalStream(const struct stat& status) {
  const char* named = std::getenv("JOURNAL_STREAM");
  if (named == nullptr) return false;
  const char* colon = std::strchr(named, ':');
  if (colon == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  return ParseDecimal(named, colon, &device) &&
         ParseDecimal(colon + 1, colon + std::strlen(colon), &inode) &&
         device == static_cast<unsigned long long>(status.st_dev) &&
         inode == static_cast<unsigned long long>(status.st_ino);
}

// The C library's write() is a cancellation point: in a process that has
// ever started a thread (the connect thread does) each call switches
// asynchronous cancellation on and off around the system call. Nothing here
// cancels threads, and the log writes one call per block, so its writes go to
// the kernel directly: the same call with the same result and errno.
ssize_t WriteDescriptor(int fd, const char* data, std::size_t size) {
#if defined(__linux__)
  return syscall(SYS_write, fd, data, size);
#else
  return write(fd, data, size);
#endif
}

class DescriptorSink final : public ConsoleSink {
 public:
  explicit DescriptorSink(int fd) : fd_(fd) {}

  int Open() override {
    if (fd_ == STDOUT_FILENO) IgnoreBrokenPipeSignal();
    if (!StartedWithDescriptor(fd_)) return IoErrorNumberFromSystemError(EBADF);
    struct stat status;
    if (fstat(fd_, &status) != 0) return IoErrorNumberFromSystemError(errno);
    is_character_device_ = S_ISCHR(status.st_mode);
    if (is_character_device_ && isatty(fd_)) {
      reader_ = StreamReader::kTerminal;
    } else if (IsJournalStream(status)) {
      reader_ = StreamReader::kJournal;
    } else {
      reader_ = StreamReader::kPlain;
    }
    return 0;
  }

  bool IsCharacterDevice() const override { return is_character_device_; }
  StreamReader Reader() const override { return reader_; }

  int Write(const char* data, std::size_t size) override {
    while (size > 0) {
      ssize_t written = WriteDescriptor(fd_, data, size);
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
  StreamReader reader_ = StreamReader::kPlain;
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
