#pragma once

#include <cstddef>
#include <string>

/// The two standard streams the runtime writes to.
enum class StandardStream { kOutput, kError };

/// Who reads a stream, as far as the bytes written to it matter.
enum class StreamReader {
  /// A file, a pipe, a device that is no terminal, or a stream whose reader
  /// is not known: every byte is kept exactly as written.
  kPlain,
  /// A terminal, which acts on control bytes (moves the cursor, switches the
  /// character set, sets the title) instead of showing them.
  kTerminal,
  /// The system journal's stream: it splits the bytes into entries at each
  /// line feed and takes a "<N>" prefix at the start of a line as its level.
  kJournal,
};

/// Where the runtime's text output goes: a standard stream of the process, or
/// in tests a sink that fails on demand. Results are the runtime's I/O error
/// numbers (0 for success), so that the caller decides whether a failure is
/// raised (the log) or ignored (the failure report on standard error).
/// Not thread-safe: the runtime writes from the main thread only.
class ConsoleSink {
 public:
  ConsoleSink() = default;
  ConsoleSink(const ConsoleSink&) = delete;
  ConsoleSink& operator=(const ConsoleSink&) = delete;
  virtual ~ConsoleSink() = default;

  /// Makes the stream ready for its first write. Returns 0, or the I/O error
  /// number (105 when the process has no such stream). May be called again
  /// after a failure; a later success makes the stream usable.
  virtual int Open() = 0;

  /// True when the stream is a character device (a terminal, /dev/null):
  /// the runtime then writes out after every statement instead of in blocks.
  /// REQUIRES: Open() returned 0.
  virtual bool IsCharacterDevice() const = 0;

  /// Who reads the stream. A sink that cannot tell (and every test sink that
  /// does not say otherwise) is plain, so that its bytes stay exact.
  /// REQUIRES: Open() returned 0.
  virtual StreamReader Reader() const { return StreamReader::kPlain; }

  /// Writes all `size` bytes, or fails. Returns 0 or the I/O error number;
  /// after a failure an unknown part of the bytes may have been written.
  /// REQUIRES: Open() returned 0.
  virtual int Write(const char* data, std::size_t size) = 0;
};

/// The sink of a standard stream of this process; it lives as long as the
/// process. Opening the standard output also makes a write to a closed pipe an
/// ordinary failure instead of a signal that ends the process.
///
/// On POSIX the stream's reader is a terminal when the descriptor is one
/// (isatty; /dev/null is a character device but no terminal), and the
/// journal when the environment's JOURNAL_STREAM ("device:inode", set by the
/// service manager) names the very file the descriptor refers to; a
/// JOURNAL_STREAM that names another file (inherited by a child whose output
/// was redirected) or cannot be read counts as not set. On Windows every
/// stream is plain: the console without virtual-terminal processing shows
/// control bytes as glyphs and acts on none of them.
ConsoleSink& StandardStreamSink(StandardStream stream);

/// The runtime's I/O error number for an operating-system error number. The
/// only place where the console's system errors are translated: a missing
/// stream (a closed descriptor) is 105; errors that mean the same as one of
/// the runtime's fixed texts get its number; every other error keeps its
/// number, marked with `kIoErrorWithoutFixedText` where that number would
/// otherwise show a fixed text it does not mean.
int IoErrorNumberFromSystemError(int system_error);

/// Converts the `size` bytes of a report from the system's character set to
/// that of the console, in place, never changing their length. Nothing to do
/// where the console has no character set of its own (POSIX). Allocates
/// nothing.
void ConvertToConsoleCharacterSet(char* text, std::size_t size);
