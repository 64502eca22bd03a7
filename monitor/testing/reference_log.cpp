#include "monitor/testing/reference_log.h"

#include "runtime/runtime_errors.h"

namespace {

constexpr std::size_t kBlockSize = 128;
constexpr std::size_t kLongestJournalLine = 4096;

bool IsControlByte(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

std::string Caret(unsigned char byte) { return {'^', static_cast<char>(byte ^ 0x40)}; }

// How many bytes the UTF-8 character that `byte` starts takes; 1 for any
// byte that starts none.
std::size_t CharacterLength(unsigned char byte) {
  if (byte >= 0xC2 && byte <= 0xDF) return 2;
  if (byte >= 0xE0 && byte <= 0xEF) return 3;
  if (byte >= 0xF0 && byte <= 0xF4) return 4;
  return 1;
}

}  // namespace

void ReferenceLog::Write(std::string_view text, char level) {
  Open();
  Statement(text, level);
}

void ReferenceLog::WriteLine(std::string_view text, char level) {
  Open();
  if (reader_ == StreamReader::kJournal && line_open_ && !text.empty()) EndLine();
  Statement(std::string(text) + "\r\n", level);
}

void ReferenceLog::WriteOutOpenLine() {
  if (open_ && reader_ == StreamReader::kJournal) WriteOut();
}

void ReferenceLog::Flush() { WriteOut(); }

void ReferenceLog::Open() {
  if (open_) return;
  if (int error = sink_.Open()) throw EInOutError(error);
  open_ = true;
  character_device_ = sink_.IsCharacterDevice();
  reader_ = sink_.Reader();
}

void ReferenceLog::Statement(std::string_view bytes, char level) {
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    switch (reader_) {
      case StreamReader::kPlain:
        Put(byte);
        break;
      case StreamReader::kTerminal:
        PutShownOnTerminal(value);
        break;
      case StreamReader::kJournal:
        PutJournalByte(value, level);
        break;
    }
  }
  if (character_device_ && reader_ != StreamReader::kJournal) WriteOut();
}

void ReferenceLog::Put(char byte) {
  collected_.push_back(byte);
  if (reader_ != StreamReader::kJournal && collected_.size() == kBlockSize) WriteOut();
}

void ReferenceLog::PutShownOnTerminal(unsigned char byte) {
  // BEL, BS, TAB, LF and CR do what a log expects; the terminal acts on the
  // other control bytes.
  const bool harmless =
      byte == 0x07 || byte == 0x08 || byte == '\t' || byte == '\n' || byte == '\r';
  if (IsControlByte(byte) && !harmless) {
    for (char shown : Caret(byte)) Put(shown);
  } else {
    Put(static_cast<char>(byte));
  }
}

void ReferenceLog::PutJournalByte(unsigned char byte, char level) {
  if (!line_open_) StartLine(level);
  if (byte == '\n') {
    EndLine();
    return;
  }
  if (carriage_return_held_) {
    carriage_return_held_ = false;
    PutIntoLine(Caret('\r'), 2);
  }
  if (byte == '\r') {
    carriage_return_held_ = true;
  } else if (IsControlByte(byte) && byte != '\t') {
    PutIntoLine(Caret(byte), 2);
  } else {
    PutIntoLine(std::string(1, static_cast<char>(byte)), CharacterLength(byte));
  }
}

void ReferenceLog::PutIntoLine(std::string_view unit, std::size_t room_needed) {
  if (line_length_ + room_needed + 1 > kLongestJournalLine) {
    const char level = line_level_;
    EndLine();
    StartLine(level);
  }
  for (char byte : unit) Put(byte);
  line_length_ += unit.size();
}

void ReferenceLog::StartLine(char level) {
  for (char byte : {'<', level, '>'}) Put(byte);
  line_open_ = true;
  line_level_ = level;
  line_length_ = 3;
}

void ReferenceLog::EndLine() {
  carriage_return_held_ = false;  // the CR of CR LF
  Put('\n');
  line_open_ = false;
  WriteOut();
}

void ReferenceLog::WriteOut() {
  if (collected_.empty()) return;
  std::string block;
  block.swap(collected_);
  if (int error = sink_.Write(block.data(), block.size())) {
    line_open_ = false;
    carriage_return_held_ = false;
    throw EInOutError(error);
  }
}
