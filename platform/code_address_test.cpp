// What the code address services do on every system, run on each of them; the
// extras of one system (file names, modules, the fault handlers) are in
// process_posix_test.cpp and process_win32_test.cpp.

#include "platform/code_address.h"

#include <gtest/gtest.h>

namespace {

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

TEST(CurrentCodeAddressTest, PointsIntoTheCallingFunctionsModule) {
  CodeModule module;
  ASSERT_TRUE(FindCodeModule(CurrentCodeAddress(), &module));
  EXPECT_EQ(ModuleBaseName(module.file_name), ModuleBaseName(ExecutableFileName()));
}

}  // namespace
