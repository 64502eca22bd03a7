#pragma once

#include <cstdint>
#include <memory>
#include <string>

/// A shared library loaded by file name, released when the object dies.
class DynamicLibrary final {
 public:
  /// Loads `file_name` the way the operating system's loader does: a path is
  /// opened as it is, a bare file name is searched for on the system's
  /// library search path. On failure returns null and stores the system's
  /// error code in `*error_code`.
  static std::unique_ptr<DynamicLibrary> Load(const std::string& file_name,
                                              std::int32_t* error_code);

  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  /// The address of an exported function, or null when it is not exported.
  void* Symbol(const char* name) const;

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

/// The operating system's message text for a system error code, without a
/// trailing line break.
std::string SystemErrorText(std::int32_t code);

/// The directory of the running executable, as an absolute path ending with
/// the system's directory separator, or an empty text when the system cannot
/// tell. Symbolic links to the executable are resolved.
std::string ExecutableDirectory();
