#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

#include <unistd.h>

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

// A bare name is the system's to search: a library that lies only beside the
// executable is not found by it (the loader would otherwise pick up whatever
// the current directory or the executable's folder holds).
TEST(DynamicLibraryTest, BareNameIsNotLookedForBesideTheExecutable) {
  std::int32_t code = 0;
  EXPECT_EQ(DynamicLibrary::Load(BESIDE_LIBRARY_NAME, &code), nullptr);
  EXPECT_EQ(code, ENOENT);
  auto library = DynamicLibrary::Load(ExecutableDirectory() + BESIDE_LIBRARY_NAME, &code);
  ASSERT_NE(library, nullptr) << SystemErrorText(code);
}

TEST(DynamicLibraryTest, ExecutableDirectoryIsTheAbsoluteFolderOfThisTest) {
  std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.front(), '/');
  EXPECT_EQ(directory.back(), '/');
  EXPECT_EQ(access((directory + "dynamic_library_test").c_str(), X_OK), 0) << directory;
}

TEST(DynamicLibraryTest, NotALibraryIsABadLibrary) {
  std::int32_t code = 0;
  EXPECT_EQ(DynamicLibrary::Load("/etc/hostname", &code), nullptr);
  EXPECT_EQ(code, ELIBBAD);
}

}  // namespace
