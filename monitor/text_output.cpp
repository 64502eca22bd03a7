#include "monitor/text_output.h"

#include <algorithm>
#include <cstring>

#include "monitor/control_bytes.h"
#include "platform/never_destroyed.h"
#include "runtime/runtime_errors.h"

namespace {

// The bytes of the UTF-8 character that `byte` starts (a cut of a journal
// line keeps them together: journalctl hides a line with a broken character
// as binary data); 1 for every other byte, so that text in another encoding
// is cut anywhere.
std::size_t Utf8CharacterLength(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  if (byte >= 0xF0 && byte <= 0xF4) return 4;
  return 1;
}

}  // namespace

void TextOutput::Write(std::string_view text, LineLevel level) {
  Append(text, level);
  EndStatement();
}

void TextOutput::WriteLine(std::string_view text, LineLevel level) { WriteLineOf({text}, level); }

void TextOutput::WriteLineOf(std::initializer_list<std::string_view> parts, LineLevel level) {
  OpenOnce();
  // In the journal a line of text never continues what the echo left open:
  // it would carry the echo's level. An empty line just ends the open one.
  if (reader_ == StreamReader::kJournal && line_open_ &&
      std::any_of(parts.begin(), parts.end(),
                  [](std::string_view part) { return !part.empty(); })) {
    EndJournalLine();
  }
  if (reader_ == StreamReader::kPlain) {
    // Every byte as it is, as Append would put it. A report writes many short
    // lines, and a line mostly fits the block's room: then its parts go into
    // place directly.
    std::size_t size = 2;
    for (std::string_view part : parts) size += part.size();
    if (size < Capacity() - used_) {
      char* out = buffer_.data() + used_;
      for (std::string_view part : parts) {
        if (part.empty()) continue;
        std::memcpy(out, part.data(), part.size());
        out += part.size();
      }
      out[0] = '\r';
      out[1] = '\n';
      used_ += size;
    } else {
      for (std::string_view part : parts) AppendExact(part);
      AppendExact("\r\n");
    }
  } else {
    for (std::string_view part : parts) Append(part, level);
    Append("\r\n", level);
  }
  EndStatement();
}

void TextOutput::WriteBytewise(std::string_view bytes, std::size_t* done, LineLevel level) {
  *done = 0;
  while (*done < bytes.size()) {
    // One statement for the bytes up to the next write-out: each byte on a
    // character device, the byte that fills the block otherwise. Until the
    // stream is open it is not known which it is: the first byte goes alone.
    // In the journal a write-out can come at any byte (a line end).
    std::size_t part = !open_ || character_device_ || reader_ == StreamReader::kJournal
                           ? 1
                           : std::min(Capacity() - used_, bytes.size() - *done);
    std::string_view statement = bytes.substr(*done, part);
    *done += part;  // a statement that fails counts as done
    if (open_ && !character_device_ && reader_ == StreamReader::kPlain) {
      AppendExact(statement);  // all that Write does for a file or pipe
    } else {
      Write(statement, level);
    }
  }
}

void TextOutput::Flush() {
  if (used_ == 0) return;
  // Emptied before the write: a failed block is dropped, never sent twice.
  std::size_t size = used_;
  used_ = 0;
  if (int error = sink_.Write(buffer_.data(), size)) {
    // The dropped bytes may have held the start of the open line: whatever
    // comes next starts a line of its own, with its own level.
    line_open_ = false;
    carriage_return_held_ = false;
    throw EInOutError(error);
  }
}

void TextOutput::WriteOutOpenLine() {
  if (reader_ == StreamReader::kJournal) Flush();
}

void TextOutput::EndOpenLine() {
  if (reader_ == StreamReader::kJournal && line_open_) EndJournalLine();
}

void TextOutput::Append(std::string_view text, LineLevel level) {
  OpenOnce();
  switch (reader_) {
    case StreamReader::kPlain:
      AppendExact(text);
      return;
    case StreamReader::kTerminal:
      AppendShownOnTerminal(text);
      return;
    case StreamReader::kJournal:
      AppendJournalLines(text, level);
      return;
  }
}

void TextOutput::AppendShownOnTerminal(std::string_view text) {
  // Runs of bytes the terminal shows go in as they are; each byte it would
  // act on goes in as its caret notation.
  while (!text.empty()) {
    std::size_t shown = 0;
    while (shown < text.size() && !TerminalActsOn(static_cast<unsigned char>(text[shown]))) {
      ++shown;
    }
    AppendExact(text.substr(0, shown));
    if (shown == text.size()) return;
    AppendCaret(static_cast<unsigned char>(text[shown]));
    text.remove_prefix(shown + 1);
  }
}

void TextOutput::AppendJournalLines(std::string_view text, LineLevel level) {
  for (char byte : text) {
    // Every line starts with the level of the statement that starts it, an
    // empty one too.
    if (!line_open_) StartJournalLine(level);
    if (byte == '\n') {
      EndJournalLine();
      continue;
    }
    if (carriage_return_held_) {  // no line feed followed: a CR inside a line
      carriage_return_held_ = false;
      AppendCaret('\r');
    }
    const auto value = static_cast<unsigned char>(byte);
    if (byte == '\r') {
      carriage_return_held_ = true;
    } else if (JournalTakesAsBinary(value)) {
      AppendCaret(value);
    } else {
      AppendToJournalLine(std::string_view(&byte, 1), Utf8CharacterLength(value));
    }
  }
}

void TextOutput::StartJournalLine(LineLevel level) {
  const char prefix[] = {'<', static_cast<char>(level), '>'};
  AppendExact(std::string_view(prefix, sizeof prefix));
  line_open_ = true;
  line_level_ = level;
  line_length_ = sizeof prefix;
}

void TextOutput::AppendToJournalLine(std::string_view text, std::size_t kept_together) {
  // Cut before bytes that would not fit with the line feed, rather than let
  // the journal cut after LineMax bytes: it would read a level from the
  // server's bytes that follow the cut. Cut lazily, at the first byte that
  // does not fit, so that a line of exactly the bound is not followed by an
  // empty piece.
  if (line_length_ + kept_together + 1 > kJournalLineMax) {
    const LineLevel level = line_level_;
    EndJournalLine();
    StartJournalLine(level);
  }
  AppendExact(text);
  line_length_ += text.size();
}

void TextOutput::EndJournalLine() {
  // A CR held for this line end is the CR of CR LF: dropped.
  carriage_return_held_ = false;
  AppendExact("\n");
  line_open_ = false;
  Flush();
}

void TextOutput::AppendCaret(unsigned char byte) {
  char caret[kCaretNotationSize];
  CaretNotation(byte, caret);
  const std::string_view shown(caret, kCaretNotationSize);
  if (reader_ == StreamReader::kJournal) {
    AppendToJournalLine(shown, shown.size());
  } else {
    AppendExact(shown);
  }
}

void TextOutput::AppendExact(std::string_view text) {
  if (text.empty()) return;
  // Most pieces fit the buffer's room whole: one copy, no write-out.
  const std::size_t capacity = Capacity();
  while (text.size() >= capacity - used_) {
    const std::size_t part = capacity - used_;
    std::memcpy(buffer_.data() + used_, text.data(), part);
    used_ = capacity;
    text.remove_prefix(part);
    Flush();
  }
  if (text.empty()) return;
  std::memcpy(buffer_.data() + used_, text.data(), text.size());
  used_ += text.size();
}

void TextOutput::EndStatement() {
  // The journal writes out at line ends (AppendJournalLines), not per
  // statement.
  if (character_device_ && reader_ != StreamReader::kJournal) Flush();
}

void TextOutput::OpenOnce() {
  if (open_) return;
  if (int error = sink_.Open()) throw EInOutError(error);
  open_ = true;
  character_device_ = sink_.IsCharacterDevice();
  reader_ = sink_.Reader();
}

TextOutput& StandardOutput() {
  // Never destroyed: the exit path may write after static destructors ran.
  static NeverDestroyed<TextOutput> output(StandardStreamSink(StandardStream::kOutput));
  return output.Get();
}
