#include "platform/dynamic_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::string ExecutableDirectory() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || length == static_cast<ssize_t>(sizeof path)) return "";
  std::string directory(path, static_cast<std::size_t>(length));
  return directory.substr(0, directory.rfind('/') + 1);
}

std::unique_ptr<DynamicLibrary> DynamicLibrary::Load(const std::string& file_name,
                                                     std::int32_t* error_code) {
  void* handle = dlopen(file_name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    // dlopen reports only through dlerror(), whose text ends with the reason
    // of the failed open when there was one ("...: No such file or
    // directory"). Recover that number; a library that exists but cannot be
    // used is reported as a bad library.
    const char* message = dlerror();
    std::string text = message != nullptr ? message : "";
    int code = ELIBBAD;
    for (int candidate : {ENOENT, EACCES, ENOTDIR, ELOOP, ENAMETOOLONG, ENOMEM}) {
      if (text.find(std::strerror(candidate)) != std::string::npos) {
        code = candidate;
        break;
      }
    }
    if (error_code != nullptr) *error_code = code;
    return nullptr;
  }
  return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle));
}

DynamicLibrary::~DynamicLibrary() { dlclose(handle_); }

void* DynamicLibrary::Symbol(const char* name) const { return dlsym(handle_, name); }

std::string SystemErrorText(std::int32_t code) {
  char buffer[256];
  // GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return text;
}
