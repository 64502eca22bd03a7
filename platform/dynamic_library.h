#pragma once

#include <cstdint>
#include <memory>
#include <string>

/// A shared library loaded by file name, released when the object dies.
class DynamicLibrary final {
 public:
  /// Loads `file_name`. A bare file name is looked up in the executable's
  /// own directory first, then the way the operating system searches for
  /// libraries. On failure returns null and stores the system's error code
  /// in `*error_code`.
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

/// File name of the Windows Sockets library on this platform.
extern const char* const kSocketsLibraryFileName;
