// Started by console_posix_test with its standard output closed: opens a file,
// which takes descriptor 1, and then tries the standard output sink. The exit
// code is the sink's open result, so 105 when it rightly refuses the file.

#include <fcntl.h>

#include <cstdio>

#include "platform/console.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd != 1) return 3;  // the test meant descriptor 1 to be free
  ConsoleSink& sink = StandardStreamSink(StandardStream::kOutput);
  int error = sink.Open();
  if (error == 0) sink.Write("leaked", 6);
  return error;
}
