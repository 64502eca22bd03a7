#include <windows.h>

#include <cstdio>

#include "platform/dynamic_library.h"

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& file_name,
                                                     std::int32_t* error_code) {
  // No message box when the file is there but broken: an unattended process
  // must get the error code, not wait for someone to press OK.
  UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE handle = LoadLibraryA(file_name.c_str());
  DWORD error = GetLastError();
  SetErrorMode(previous_mode);
  if (handle == nullptr) {
    if (error_code != nullptr) *error_code = static_cast<std::int32_t>(error);
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { FreeLibrary(static_cast<HMODULE>(handle_)); }

void* DynamicLibrary::Symbol(const char* name) const {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::string ExecutableDirectory() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length == sizeof path) return "";
  std::string directory(path, length);
  std::size_t separator = directory.find_last_of("\\/");
  return separator == std::string::npos ? "" : directory.substr(0, separator + 1);
}

std::string SystemErrorText(std::int32_t code) {
  char buffer[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  // The system's texts end with a line break (and some with a blank before
  // it); the callers put the text inside a line of their own.
  while (length > 0 &&
         (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' || buffer[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) {
    // No text for the code: say so with the code, rather than nothing.
    std::snprintf(buffer, sizeof buffer, "Unknown error %d", static_cast<int>(code));
    return buffer;
  }
  return std::string(buffer, length);
}
