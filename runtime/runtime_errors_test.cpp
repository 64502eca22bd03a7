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

TEST(EInOutErrorTest, AMarkedNumberShowsItselfNeverAFixedText) {
  for (int code : {4, 5, 100, 28}) {
    EInOutError error(code | kIoErrorWithoutFixedText);
    EXPECT_EQ(error.Message(), "I/O error " + std::to_string(code));
    EXPECT_EQ(error.ErrorCode(), code);
  }
}

// Two raise sites of one class in two functions, and a third site raising
// another class; none of them inlined into the test.
[[gnu::noinline]] void RaiseHere() { throw EDivByZero(); }
[[gnu::noinline]] void RaiseThere() { throw EDivByZero(); }
[[gnu::noinline]] void RaiseInOut() { throw EInOutError(5); }

template <typename Raise>
std::uintptr_t RaiseAddressOf(Raise raise) {
  try {
    raise();
  } catch (const Exception& error) {
    return error.RaiseAddress();
  }
  return 0;
}

TEST(ErrorClassTest, TheRaiseAddressIsTheRaiseSite) {
  auto here = RaiseAddressOf(RaiseHere);
  auto there = RaiseAddressOf(RaiseThere);
  auto in_out = RaiseAddressOf(RaiseInOut);
  EXPECT_NE(here, there);
  EXPECT_NE(here, in_out);
  EXPECT_EQ(here, RaiseAddressOf(RaiseHere)) << "the same site gives the same address";
  // Each address lies in the function that raised, not in a constructor
  // shared by every raise of the class. (Functions this small are far
  // shorter than 4 KiB.)
  auto in_function = [](std::uintptr_t address, void (*function)()) {
    auto start = reinterpret_cast<std::uintptr_t>(function);
    return address > start && address - start < 4096;
  };
  EXPECT_TRUE(in_function(here, RaiseHere));
  EXPECT_TRUE(in_function(there, RaiseThere));
  EXPECT_TRUE(in_function(in_out, RaiseInOut));

  // Raised again as a copy, the error keeps where it was first raised.
  auto copied = RaiseAddressOf([] {
    try {
      RaiseHere();
    } catch (const EDivByZero& error) {
      throw EDivByZero(error);
    }
  });
  EXPECT_EQ(copied, here);
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
