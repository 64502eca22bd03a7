#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "platform/console.h"

/// The syslog level of what a statement writes. Only the journal sees it, as
/// the "<N>" prefix of each line the statement starts; every other stream
/// gets the same bytes whatever the level.
enum class LineLevel : char {
  kError = '3',
  kNotice = '5',
  kInfo = '6',
  kDebug = '7',
};

/// The runtime's text output to a console sink (the process's standard
/// output, or a test sink). Bytes go through a 128-byte buffer; the stream is
/// opened at the first write. Each call of Write or WriteLine is one output
/// statement. How the bytes go out depends on the sink's reader:
///
/// - Plain (a file, a pipe, a device that is no terminal): every byte exactly
///   as written. On a character device the buffer is written out at the end
///   of every statement, so the operator sees each echoed byte at once; on a
///   file or pipe only when full (in 128-byte blocks) and by Flush.
/// - Terminal: as on a character device, but every byte that the terminal
///   would act on (see control_bytes.h) is written in caret notation,
///   whichever statement writes it: the echo, a report's values, an error's
///   message.
/// - Journal: whole lines, each written out when its line feed is written;
///   lines end in LF alone (the CR of a CR LF is dropped); each line starts
///   with the "<N>" prefix of the statement that started it, so no byte of a
///   line can choose its level; control bytes the journal would take for
///   binary data are written in caret notation (a CR that ends no line too).
///   No line is longer than kJournalLineMax: a longer one is ended with LF
///   where the next byte would pass the bound and goes on in a line of its
///   own with the same prefix, so that the journal never cuts a line itself
///   (it would read the rest's first bytes as a level). The cut never splits
///   a caret notation or a UTF-8 character; the pieces without their prefixes
///   and inserted LFs are the line. A line that the echo left open is ended
///   before a line of text, so that the text starts a line with its own
///   level; an empty line only ends it, as it does elsewhere. The start of a
///   line whose end has not come yet stays in the buffer until
///   WriteOutOpenLine or Flush writes it out.
///
/// A failed open or write raises EInOutError at the statement that wrote, with
/// the sink's I/O error number; the buffered bytes whose write failed are
/// dropped and the rest of that statement is not written. In the journal the
/// next byte then starts a line with its own prefix.
///
/// Not thread-safe: used by the main thread only.
class TextOutput {
 public:
  static constexpr std::size_t kBufferSize = 128;
  /// The longest line the journal gets, its prefix and line feed included.
  /// The journal cuts a line only past its LineMax (48 KiB unless the
  /// administrator lowers it), so a line this short stays whole. It is also
  /// the buffer's size for the journal: a line goes in one write.
  static constexpr std::size_t kJournalLineMax = 4096;

  /// `sink` must outlive this object.
  explicit TextOutput(ConsoleSink& sink) : sink_(sink) {}
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  /// One statement: `text` as it is, no line end (an echoed byte is one).
  void Write(std::string_view text, LineLevel level = LineLevel::kInfo);

  /// One statement: `text` followed by CR LF.
  void WriteLine(std::string_view text = {}, LineLevel level = LineLevel::kInfo);

  /// One statement: `parts` one after the other, then CR LF. The same as
  /// WriteLine of the parts joined, without joining them first.
  void WriteLineOf(std::initializer_list<std::string_view> parts,
                   LineLevel level = LineLevel::kInfo);

  /// Writes out what the buffer holds: for the orderly exit, and before a
  /// failure report or the runtime-error line. Does nothing when the buffer is
  /// empty. Raises EInOutError like a statement; the buffer is empty after.
  void Flush();

  /// For the journal, writes out the start of a line whose end has not come
  /// yet, so that nothing waits in the buffer while the caller waits for
  /// more bytes. Does nothing for any other reader: a file keeps its blocks,
  /// a terminal has nothing buffered. Raises EInOutError like a statement.
  void WriteOutOpenLine();

  /// For the journal, ends a line that the echo left open (its line feed
  /// and a write-out), so that what another writer puts into the same stream
  /// next starts a line of its own. Does nothing for any other reader, or
  /// when no line is open. Raises EInOutError like a statement.
  void EndOpenLine();

  /// Bytes waiting in the buffer.
  std::size_t Pending() const { return used_; }

  /// Writes `bytes` with the effect of one Write statement per byte: the
  /// same write-outs (every byte on a character device, each full block
  /// otherwise, each line end in the journal) at the same bytes, without a
  /// call per byte. `*done` counts the bytes whose statements have run; when
  /// a statement fails (opening the stream or a write-out), it raises that
  /// statement's EInOutError and `*done` includes the byte of the failed
  /// statement.
  void WriteBytewise(std::string_view bytes, std::size_t* done, LineLevel level = LineLevel::kInfo);

 private:
  void Append(std::string_view text, LineLevel level);
  void AppendShownOnTerminal(std::string_view text);
  void AppendJournalLines(std::string_view text, LineLevel level);
  void AppendExact(std::string_view text);
  void AppendCaret(unsigned char byte);
  void StartJournalLine(LineLevel level);
  void AppendToJournalLine(std::string_view text, std::size_t kept_together);
  // The part of buffer_ in use: a whole line for the journal, a block otherwise.
  std::size_t Capacity() const {
    return reader_ == StreamReader::kJournal ? kJournalLineMax : kBufferSize;
  }
  void EndJournalLine();
  void EndStatement();
  void OpenOnce();

  ConsoleSink& sink_;
  bool open_ = false;
  bool character_device_ = false;
  StreamReader reader_ = StreamReader::kPlain;
  // Journal only: a line has been started (its prefix is buffered or out),
  // and a CR came last whose fate (line end or not) the next byte decides.
  bool line_open_ = false;
  bool carriage_return_held_ = false;
  // Journal only: the open line's level, and its length so far (prefix
  // included, written out or not), for the cut at kJournalLineMax.
  LineLevel line_level_ = LineLevel::kInfo;
  std::size_t line_length_ = 0;
  std::array<char, kJournalLineMax> buffer_;
  std::size_t used_ = 0;
};

/// The runtime's standard output over the process's standard output. Lives as
/// long as the process and never writes out by itself at exit: the orderly
/// exit calls Flush.
TextOutput& StandardOutput();
