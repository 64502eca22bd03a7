// What the code address services do on every system, run on each of them; the
// extras of one system (its file names, its libraries) are in
// code_address_posix_test.cpp and code_address_win32_test.cpp.

#include "platform/code_address.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

[[gnu::noinline]] void FunctionInThisExecutable() { asm volatile(""); }

TEST(FormatAddressTest, AtLeastEightUppercaseDigits) {
  struct Case {
    CodeAddress address;
    const char* text;
  } cases[] = {
      {0, "00000000"},
      {0x1234, "00001234"},
      {0xDEADBEEF, "DEADBEEF"},
      {0xabcdef, "00ABCDEF"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatAddress(c.address), c.text);
  if constexpr (sizeof(CodeAddress) > 4) {
    EXPECT_EQ(FormatAddress(static_cast<CodeAddress>(0x7F0012345678ull)), "7F0012345678");
  }
}

// A forward slash separates directories on every system.
TEST(ModuleBaseNameTest, DropsTheDirectoryPart) {
  EXPECT_EQ(ModuleBaseName("./status-monitor"), "status-monitor");
  EXPECT_EQ(ModuleBaseName("status-monitor"), "status-monitor");
  EXPECT_EQ(ModuleBaseName("/dir/"), "");
  EXPECT_EQ(ModuleBaseName(""), "");
}

TEST(FindCodeModuleTest, NamesTheExecutableOrNothing) {
  std::string executable(ModuleBaseName(ExecutableFileName()));
  ASSERT_FALSE(executable.empty());

  CodeModule module;
  auto own = reinterpret_cast<CodeAddress>(&FunctionInThisExecutable);
  ASSERT_TRUE(FindCodeModule(own, &module));
  EXPECT_EQ(ModuleBaseName(module.file_name), executable);
  EXPECT_LE(module.base, own);

  // Memory that no module holds leaves the answer untouched.
  auto heap = std::make_unique<char[]>(64);
  module = CodeModule{"untouched", 7};
  EXPECT_FALSE(FindCodeModule(reinterpret_cast<CodeAddress>(heap.get()), &module));
  EXPECT_FALSE(FindCodeModule(0, &module));
  EXPECT_STREQ(module.file_name, "untouched");
  EXPECT_EQ(module.base, 7u);
}

TEST(CurrentCodeAddressTest, PointsIntoTheCallingFunctionsModule) {
  CodeModule module;
  ASSERT_TRUE(FindCodeModule(CurrentCodeAddress(), &module));
  EXPECT_EQ(ModuleBaseName(module.file_name), ModuleBaseName(ExecutableFileName()));
}

}  // namespace
