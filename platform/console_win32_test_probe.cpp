// Started by console_win32_test with the standard output handle it names on
// its command line (none, a file, a pipe): opens the standard output sink and
// writes its argument. The exit code is 100 + the open error, 200 + the write
// error, else 1 for a character device and 0 for anything else.

#include <cstring>

#include "platform/console.h"

int main(int argc, char** argv) {
  const char* text = argc > 1 ? argv[1] : "";
  ConsoleSink& sink = StandardStreamSink(StandardStream::kOutput);
  if (int error = sink.Open()) return 100 + error;
  if (int error = sink.Write(text, std::strlen(text))) return 200 + error;
  return sink.IsCharacterDevice() ? 1 : 0;
}
