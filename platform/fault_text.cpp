#include "platform/fault_text.h"

#include <cstdio>

std::string AccessViolationText(CodeAddress code_address, bool write, CodeAddress data_address) {
  std::string text = "Access violation at address " + FormatAddress(code_address);
  CodeModule module;
  if (FindCodeModule(code_address, &module)) {
    text += " in module '";
    text += ModuleBaseName(module.file_name);
    text += "'";
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
