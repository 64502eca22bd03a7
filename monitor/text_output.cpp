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
    if (!open_) {
      try {
        OpenOnce();
      } catch (...) {
        ++*done;  // the statement of this byte failed
        throw;
      }
    }
    // On a character device each statement writes out its byte; otherwise
    // the bytes fill the block and the one that fills it writes it out.
    std::size_t part = character_device_ ? 1 : std::min(kBufferSize - used_, bytes.size() - *done);
    std::copy_n(bytes.data() + *done, part, buffer_.data() + used_);
    used_ += part;
    *done += part;
    if (character_device_ || used_ == kBufferSize) Flush();
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
