#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace {

TEST(DynamicLibraryTest, MissingFileReportsNoSuchFile) {
  std::int32_t code = 0;
  EXPECT_EQ(DynamicLibrary::Load("libno_such_library_anywhere.so", &code), nullptr);
  EXPECT_EQ(code, ENOENT);
  EXPECT_EQ(SystemErrorText(code), "No such file or directory");
}

TEST(DynamicLibraryTest, LoadedLibraryResolvesExportsOnly) {
  std::int32_t code = 0;
  auto library = DynamicLibrary::Load("libc.so.6", &code);
  ASSERT_NE(library, nullptr);
  EXPECT_NE(library->Symbol("strlen"), nullptr);
  EXPECT_EQ(library->Symbol("no_such_function_here"), nullptr);
}

// This test executable carries no run path (see platform/CMakeLists.txt), so
// only the look-up beside the executable can find the sockets library, which
// the build puts there.
TEST(DynamicLibraryTest, BareNameIsFoundBesideTheExecutable) {
  std::int32_t code = 0;
  auto library = DynamicLibrary::Load(kSocketsLibraryFileName, &code);
  ASSERT_NE(library, nullptr) << SystemErrorText(code);
  EXPECT_NE(library->Symbol("WSAStartup"), nullptr);
}

TEST(DynamicLibraryTest, NotALibraryIsABadLibrary) {
  std::int32_t code = 0;
  EXPECT_EQ(DynamicLibrary::Load("/etc/hostname", &code), nullptr);
  EXPECT_EQ(code, ELIBBAD);
}

}  // namespace
