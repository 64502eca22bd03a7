#include <windows.h>

#include <cstring>

#include "platform/code_address.h"

bool FindCodeModule(CodeAddress address, CodeModule* module) {
  if (address == 0) return false;
  MEMORY_BASIC_INFORMATION region;
  if (VirtualQuery(reinterpret_cast<void*>(address), &region, sizeof region) == 0) return false;
  if (region.State != MEM_COMMIT) return false;
  // A module's image is one allocation, so the region's allocation base is
  // the module's handle; for any other memory the loader knows no file.
  char path[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), path, MAX_PATH);
  if (length == 0) return false;
  std::memcpy(module->file_name, path, length);
  module->file_name[length] = '\0';
  module->base = reinterpret_cast<CodeAddress>(region.AllocationBase);
  return true;
}

void FindExecutableFile(CodeModule* module) {
  static_assert(kModuleFileNameSize > MAX_PATH);
  DWORD length = GetModuleFileNameA(nullptr, module->file_name, MAX_PATH);
  module->file_name[length] = '\0';
}

std::string_view ModuleBaseName(std::string_view file_name) {
  // The loader names files with backslashes; a forward slash is a directory
  // separator to the system as well.
  std::size_t separator = file_name.find_last_of("\\/");
  return separator == std::string_view::npos ? file_name : file_name.substr(separator + 1);
}
