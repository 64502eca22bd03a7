// The parts of the process services that every system shares.

#include <cstdio>

#include "platform/fault_text.h"
#include "platform/process.h"

std::string FormatAddress(CodeAddress address) {
  char text[2 * sizeof(CodeAddress) + 1];
  std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(address));
  return text;
}

CodeAddress CurrentCodeAddress() {
  return reinterpret_cast<CodeAddress>(__builtin_return_address(0));
}

std::string AccessViolationText(CodeAddress code_address, bool write, CodeAddress data_address) {
  std::string text = "Access violation at address " + FormatAddress(code_address);
  CodeModule module;
  if (FindCodeModule(code_address, &module)) {
    text += " in module '" + ModuleBaseName(module.file_name) + "'";
  }
  text += write ? ". Write" : ". Read";
  text += " of address " + FormatAddress(data_address);
  return text;
}

EExternalException ExternalExceptionFor(std::uint32_t code) {
  char text[48];
  std::snprintf(text, sizeof text, "External exception %lX", static_cast<unsigned long>(code));
  return EExternalException(text);
}
