#include <dlfcn.h>
#include <unistd.h>

#include <cstring>

#include "platform/code_address.h"

namespace {

// Copies a NUL-terminated name into the module's fixed area, cut to fit.
void StoreFileName(const char* name, CodeModule* module) {
  std::size_t length = std::strlen(name);
  if (length >= sizeof module->file_name) length = sizeof module->file_name - 1;
  std::memcpy(module->file_name, name, length);
  module->file_name[length] = '\0';
}

}  // namespace

bool FindCodeModule(CodeAddress address, CodeModule* module) {
  Dl_info info;
  // Code addresses travel as integers (fault reports, failure reports); the
  // loader takes them back as pointers.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (address == 0 || dladdr(reinterpret_cast<void*>(address), &info) == 0) return false;
  if (info.dli_fname == nullptr || info.dli_fbase == nullptr) return false;
  // The loader names the main program by the path it was started with; an
  // empty name (seen with some loaders) stands for the executable itself.
  if (info.dli_fname[0] != '\0') {
    StoreFileName(info.dli_fname, module);
  } else {
    FindExecutableFile(module);
  }
  module->base = reinterpret_cast<CodeAddress>(info.dli_fbase);
  return true;
}

void FindExecutableFile(CodeModule* module) {
  ssize_t length = readlink("/proc/self/exe", module->file_name, sizeof module->file_name - 1);
  module->file_name[length > 0 ? length : 0] = '\0';
}

std::string_view ModuleBaseName(std::string_view file_name) {
  std::size_t slash = file_name.rfind('/');
  return slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
}
