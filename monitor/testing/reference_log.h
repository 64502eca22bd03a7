#pragma once

// Test support: the log as plainly as it can be written, for the reference
// loop. Written from what each reader of the log is promised, a byte at a
// time, sharing no code with the monitor's text output, so that a test
// comparing the two loops also compares the two writers:
//
// - every reader: a statement's bytes are collected and written out in
//   blocks; a block whose write fails is lost, raises EInOutError with the
//   sink's error number, and the rest of that statement is not written;
// - plain: the bytes as they are, in blocks of 128, and after each statement
//   when the sink is a character device;
// - terminal: the same, a control byte the terminal would act on shown as
//   '^' and the byte with bit 6 flipped;
// - journal: each line "<N>" + text + LF, N the level of the statement that
//   started it, written out whole at its LF; CR LF is LF; other control bytes
//   but TAB in caret notation (a lone CR too); a line that would pass 4096
//   bytes, prefix and LF counted, goes on in a line of its own with the same
//   prefix, never splitting a caret notation or a UTF-8 character; a line of
//   text ends the echo's open line first. A failed write leaves no line open.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/console.h"

/// Syslog levels as the journal reads them: the digit of the "<N>" prefix.
namespace reference_level {
inline constexpr char kError = '3';
inline constexpr char kNotice = '5';
inline constexpr char kInfo = '6';
inline constexpr char kDebug = '7';
}  // namespace reference_level

class ReferenceLog {
 public:
  /// `sink` must outlive this object; it is opened at the first statement.
  explicit ReferenceLog(ConsoleSink& sink) : sink_(sink) {}
  ReferenceLog(const ReferenceLog&) = delete;
  ReferenceLog& operator=(const ReferenceLog&) = delete;

  /// One statement: `text` as it is.
  void Write(std::string_view text, char level);
  /// One statement: `text` and CR LF.
  void WriteLine(std::string_view text, char level);
  /// Journal only: writes out the start of the open line, before a wait.
  void WriteOutOpenLine();
  /// Writes out whatever is collected.
  void Flush();

 private:
  void Open();
  void Statement(std::string_view bytes, char level);
  void Put(char byte);
  void PutShownOnTerminal(unsigned char byte);
  void PutJournalByte(unsigned char byte, char level);
  void PutIntoLine(std::string_view unit, std::size_t room_needed);
  void StartLine(char level);
  void EndLine();
  void WriteOut();

  ConsoleSink& sink_;
  bool open_ = false;
  bool character_device_ = false;
  StreamReader reader_ = StreamReader::kPlain;
  std::string collected_;
  // Journal: the line in progress, its level and length so far (written out
  // or not), and a CR whose meaning the next byte decides.
  bool line_open_ = false;
  char line_level_ = reference_level::kInfo;
  std::size_t line_length_ = 0;
  bool carriage_return_held_ = false;
};
