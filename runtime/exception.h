#pragma once

#include <string>
#include <utility>

/// Base of every error this system raises. Handlers take `Exception` and
/// everything derived from it and let any other thrown object pass.
/// `ClassName()` names the most derived class: that is what the log shows.
class Exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  virtual ~Exception() = default;

  const std::string& Message() const { return message_; }
  virtual const char* ClassName() const { return "Exception"; }

 private:
  std::string message_;
};

// The macros' arguments are class names in a declaration, where parentheses
// cannot go.
// NOLINTBEGIN(bugprone-macro-parentheses)
/// Declares an error class whose message is given where it is raised.
#define DECLARE_ERROR_CLASS(Name, Base)                      \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    const char* ClassName() const override { return #Name; } \
  }

/// Declares an error class that always carries the same message; it can also
/// be constructed with another text where a caller needs one.
#define DECLARE_FIXED_ERROR_CLASS(Name, Base, Text)          \
  class Name : public Base {                                 \
   public:                                                   \
    using Base::Base;                                        \
    Name() : Base(Text) {}                                   \
    const char* ClassName() const override { return #Name; } \
  }
// NOLINTEND(bugprone-macro-parentheses)
