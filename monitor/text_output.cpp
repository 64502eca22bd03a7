#include "monitor/text_output.h"

#include <algorithm>

#include "platform/never_destroyed.h"
#include "runtime/runtime_errors.h"

void TextOutput::Write(std::string_view text) {
  Append(text);
  EndStatement();
}

void TextOutput::WriteLine(std::string_view text) {
  Append(text);
  Append("\r\n");
  EndStatement();
}

void TextOutput::WriteBytewise(std::string_view bytes, std::size_t* done) {
  *done = 0;
  while (*done < bytes.size()) {
    // One statement for the bytes up to the next write-out: each byte on a
    // character device, the byte that fills the block otherwise. Until the
    // stream is open it is not known which it is: the first byte goes alone.
    std::size_t part =
        !open_ || character_device_ ? 1 : std::min(kBufferSize - used_, bytes.size() - *done);
    std::string_view statement = bytes.substr(*done, part);
    *done += part;  // a statement that fails counts as done
    Write(statement);
  }
}

void TextOutput::Flush() {
  if (used_ == 0) return;
  // Emptied before the write: a failed block is dropped, never sent twice.
  std::size_t size = used_;
  used_ = 0;
  if (int error = sink_.Write(buffer_.data(), size)) throw EInOutError(error);
}

void TextOutput::Append(std::string_view text) {
  OpenOnce();
  while (!text.empty()) {
    std::size_t room = kBufferSize - used_;
    std::size_t part = std::min(room, text.size());
    std::copy_n(text.data(), part, buffer_.data() + used_);
    used_ += part;
    text.remove_prefix(part);
    if (used_ == kBufferSize) Flush();
  }
}

void TextOutput::EndStatement() {
  if (character_device_) Flush();
}

void TextOutput::OpenOnce() {
  if (open_) return;
  if (int error = sink_.Open()) throw EInOutError(error);
  open_ = true;
  character_device_ = sink_.IsCharacterDevice();
}

TextOutput& StandardOutput() {
  // Never destroyed: the exit path may write after static destructors ran.
  static NeverDestroyed<TextOutput> output(StandardStreamSink(StandardStream::kOutput));
  return output.Get();
}
