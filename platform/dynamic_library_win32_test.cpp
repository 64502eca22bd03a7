#include <windows.h>

#include <gtest/gtest.h>

#include "platform/dynamic_library.h"

namespace {

TEST(DynamicLibraryTest, MissingFileReportsTheLoadersCodeAndText) {
  std::int32_t code = 0;
  EXPECT_EQ(DynamicLibrary::Load("no_such_library_anywhere.dll", &code), nullptr);
  EXPECT_EQ(code, ERROR_MOD_NOT_FOUND);
  std::string text = SystemErrorText(code);
  EXPECT_FALSE(text.empty());
  EXPECT_NE(text.back(), '\n') << "no line break at the end";
}

TEST(DynamicLibraryTest, TheSocketsLibraryIsTheSystemsOwn) {
  std::int32_t code = 0;
  auto library = DynamicLibrary::Load("WS2_32.DLL", &code);
  ASSERT_NE(library, nullptr) << code;
  EXPECT_NE(library->Symbol("WSAStartup"), nullptr);
  EXPECT_NE(library->Symbol("gethostbyname"), nullptr);
  EXPECT_EQ(library->Symbol("no_such_function_here"), nullptr);
}

TEST(DynamicLibraryTest, ExecutableDirectoryHoldsThisTest) {
  std::string directory = ExecutableDirectory();
  ASSERT_FALSE(directory.empty());
  EXPECT_EQ(directory.back(), '\\');
  EXPECT_NE(GetFileAttributesA((directory + "dynamic_library_test.exe").c_str()),
            INVALID_FILE_ATTRIBUTES)
      << directory;
}

TEST(SystemErrorTextTest, FormatMessagesTextWithoutTheLineEnd) {
  char expected[512];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                ERROR_ACCESS_DENIED, 0, expected, sizeof expected, nullptr);
  ASSERT_GT(length, 0u);
  std::string text = SystemErrorText(ERROR_ACCESS_DENIED);
  EXPECT_EQ(std::string(expected, length).rfind(text, 0), 0u) << text;
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
}

}  // namespace
