// The parts of the code address services that every system shares.

#include "platform/code_address.h"

#include <cstdio>

void FormatAddress(CodeAddress address, char (&text)[kAddressTextSize]) {
  std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(address));
}

std::string FormatAddress(CodeAddress address) {
  char text[kAddressTextSize];
  FormatAddress(address, text);
  return text;
}

std::string ExecutableFileName() {
  CodeModule executable;
  FindExecutableFile(&executable);
  return executable.file_name;
}

CodeAddress CurrentCodeAddress() {
  return reinterpret_cast<CodeAddress>(__builtin_return_address(0));
}
