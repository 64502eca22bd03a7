#include "program/runtime_error_line.h"

#include <gtest/gtest.h>

namespace {

TEST(RuntimeErrorLineTest, NumberEndsInColumn17AndAddressInColumn29) {
  struct Case {
    std::uint8_t number;
    CodeAddress address;
    const char* line;
  } cases[] = {
      {217, 0x0040A1B2, "Runtime error 217 at 0040A1B2"},
      {217, 0, "Runtime error 217 at 00000000"},
      {200, 0xFFFFFFFF, "Runtime error 200 at FFFFFFFF"},
      {5, 0x1234, "Runtime error   5 at 00001234"},
      {42, 0xabcdef, "Runtime error  42 at 00ABCDEF"},
      {0, 0x10, "Runtime error   0 at 00000010"},
      {255, 0xDEADBEEF, "Runtime error 255 at DEADBEEF"},
  };
  for (const Case& c : cases) {
    std::string line = RuntimeErrorLine(c.number, c.address);
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(line.size(), 29u) << line;
  }
}

TEST(RuntimeErrorLineTest, AWideAddressKeepsAllItsDigits) {
  if (sizeof(CodeAddress) < 8) GTEST_SKIP() << "a 32-bit process has no wider addresses";
  EXPECT_EQ(RuntimeErrorLine(217, static_cast<CodeAddress>(0x55D0C0FFEE42ull)),
            "Runtime error 217 at 55D0C0FFEE42");
}

}  // namespace
