#pragma once

#include <cstdint>
#include <string>
#include <utility>

/// Base of every error this system raises. Handlers take `Exception` and
/// everything derived from it and let any other thrown object pass.
/// `ClassName()` names the most derived class: that is what the log shows.
class Exception {
 public:
  /// Notes the code address it is made at (`RaiseAddress`). Never inlined,
  /// so that the address it notes is its caller's: the raise site itself for
  /// the error classes below, whose constructors are always inlined into it.
  [[gnu::noinline]] explicit Exception(std::string message);
  Exception(const Exception&) = default;
  Exception& operator=(const Exception&) = default;
  virtual ~Exception() = default;

  const std::string& Message() const { return message_; }
  virtual const char* ClassName() const { return "Exception"; }

  /// The code address at which the object was made, that is, where the
  /// failure was raised: the failure report and the runtime-error line show
  /// it. A copy (a raise again) keeps the address of the original.
  std::uintptr_t RaiseAddress() const { return raise_address_; }

 private:
  std::string message_;
  std::uintptr_t raise_address_;
};

// The macros' arguments are class names in a declaration, where parentheses
// cannot go. The constructors are always inlined, so that the base notes the
// address of the raise site rather than one shared by all raises of a class.
// NOLINTBEGIN(bugprone-macro-parentheses)
/// Declares an error class whose message is given where it is raised.
#define DECLARE_ERROR_CLASS(Name, Base)                                                     \
  class Name : public Base {                                                                \
   public:                                                                                  \
    static constexpr const char* kClassName = #Name;                                        \
    [[gnu::always_inline]] explicit Name(std::string message) : Base(std::move(message)) {} \
    const char* ClassName() const override { return kClassName; }                           \
  }

/// Declares an error class that always carries the same message; it can also
/// be constructed with another text where a caller needs one.
#define DECLARE_FIXED_ERROR_CLASS(Name, Base, Text)                                         \
  class Name : public Base {                                                                \
   public:                                                                                  \
    static constexpr const char* kClassName = #Name;                                        \
    static constexpr const char* kFixedText = Text;                                         \
    [[gnu::always_inline]] explicit Name(std::string message) : Base(std::move(message)) {} \
    [[gnu::always_inline]] Name() : Base(kFixedText) {}                                     \
    const char* ClassName() const override { return kClassName; }                           \
  }
// NOLINTEND(bugprone-macro-parentheses)
