#include "runtime/runtime_errors.h"

#include <gtest/gtest.h>

namespace {

TEST(EInOutErrorTest, FixedTextsAndNumberedFallback) {
  struct Case {
    int code;
    const char* message;
  } cases[] = {
      {2, "File not found"},          {3, "Invalid filename"},          {4, "Too many open files"},
      {5, "File access denied"},      {100, "Read beyond end of file"}, {101, "Disk full"},
      {106, "Invalid numeric input"}, {105, "I/O error 105"},           {28, "I/O error 28"},
      {32, "I/O error 32"},
  };
  for (const Case& c : cases) {
    EInOutError error(c.code);
    EXPECT_EQ(error.Message(), c.message) << c.code;
    EXPECT_EQ(error.ErrorCode(), c.code);
    EXPECT_STREQ(error.ClassName(), "EInOutError");
  }
}

TEST(ErrorClassTest, MostDerivedNameIsReportedThroughBase) {
  try {
    throw EOutOfMemory();
  } catch (const Exception& e) {
    EXPECT_STREQ(e.ClassName(), "EOutOfMemory");
    EXPECT_EQ(e.Message(), "Out of memory");
  }
  try {
    throw EAccessViolation("x");
  } catch (const EExternal& e) {
    EXPECT_STREQ(e.ClassName(), "EAccessViolation");
  }
}

TEST(StrToIntTest, PlainDecimalConvertsAndAnythingElseRaises) {
  EXPECT_EQ(StrToInt("0"), 0);
  EXPECT_EQ(StrToInt("255"), 255);
  EXPECT_EQ(StrToInt("-12"), -12);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  for (const char* bad : {"", "-", "1a", " 1", "1 ", "2147483648", "99999999999999999999"}) {
    try {
      StrToInt(bad);
      ADD_FAILURE() << "no error for '" << bad << "'";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), std::string("'") + bad + "' is not a valid integer value");
    }
  }
}

}  // namespace
