#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "platform/console.h"

/// The runtime's text output to a console sink (the process's standard
/// output, or a test sink). Bytes go through a 128-byte buffer; the stream is
/// opened at the first write. Each call of Write or WriteLine is one output
/// statement: on a character device the buffer is written out at the end of
/// every statement, so the operator sees each echoed byte at once; on a file
/// or pipe it is written out only when full (in 128-byte blocks) and by Flush.
///
/// A failed open or write raises EInOutError at the statement that wrote, with
/// the sink's I/O error number; the buffered bytes whose write failed are
/// dropped and the rest of that statement is not written.
///
/// Not thread-safe: used by the main thread only.
class TextOutput {
 public:
  static constexpr std::size_t kBufferSize = 128;

  /// `sink` must outlive this object.
  explicit TextOutput(ConsoleSink& sink) : sink_(sink) {}
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  /// One statement: `text` as it is, no line end (an echoed byte is one).
  void Write(std::string_view text);

  /// One statement: `text` followed by CR LF.
  void WriteLine(std::string_view text = {});

  /// Writes out what the buffer holds: for the orderly exit, and before a
  /// failure report or the runtime-error line. Does nothing when the buffer is
  /// empty. Raises EInOutError like a statement; the buffer is empty after.
  void Flush();

  /// Bytes waiting in the buffer.
  std::size_t Pending() const { return used_; }

  /// Writes `bytes` with the effect of one Write statement per byte: the
  /// same write-outs (every byte on a character device, each full block
  /// otherwise) at the same bytes, without a call per byte. `*done` counts
  /// the bytes whose statements have run; when a statement fails (opening
  /// the stream or a write-out), it raises that statement's EInOutError and
  /// `*done` includes the byte of the failed statement.
  void WriteBytewise(std::string_view bytes, std::size_t* done);

 private:
  void Append(std::string_view text);
  void EndStatement();
  void OpenOnce();

  ConsoleSink& sink_;
  bool open_ = false;
  bool character_device_ = false;
  std::array<char, kBufferSize> buffer_;
  std::size_t used_ = 0;
};

/// The runtime's standard output over the process's standard output. Lives as
/// long as the process and never writes out by itself at exit: the orderly
/// exit calls Flush.
TextOutput& StandardOutput();
