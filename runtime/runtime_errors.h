#pragma once

#include <new>
#include <string>

#include "runtime/exception.h"

// The errors of the runtime itself: memory, console I/O, conversions, threads
// and processor faults. Each reports its own class name for the log.

DECLARE_ERROR_CLASS(EHeapException, Exception);
/// Exhausted memory. Also a `std::bad_alloc`, the type the C++ library expects
/// of a failed allocation, so that it may leave an allocation (see
/// `RaiseOutOfMemory`) and code that takes `std::bad_alloc` still takes it.
class EOutOfMemory : public EHeapException, public std::bad_alloc {
 public:
  [[gnu::always_inline]] EOutOfMemory() : EHeapException("Out of memory") {}
  const char* ClassName() const override { return "EOutOfMemory"; }
};
DECLARE_FIXED_ERROR_CLASS(EInvalidPointer, EHeapException, "Invalid pointer operation");
DECLARE_ERROR_CLASS(EConvertError, Exception);
DECLARE_ERROR_CLASS(EThread, Exception);

DECLARE_ERROR_CLASS(EExternal, Exception);
DECLARE_ERROR_CLASS(EAccessViolation, EExternal);
DECLARE_ERROR_CLASS(EIntError, EExternal);
DECLARE_FIXED_ERROR_CLASS(EDivByZero, EIntError, "Division by zero");
DECLARE_FIXED_ERROR_CLASS(ERangeError, EIntError, "Range check error");
DECLARE_FIXED_ERROR_CLASS(EIntOverflow, EIntError, "Integer overflow");
DECLARE_ERROR_CLASS(EMathError, EExternal);
DECLARE_FIXED_ERROR_CLASS(EInvalidOp, EMathError, "Invalid floating point operation");
DECLARE_FIXED_ERROR_CLASS(EZeroDivide, EMathError, "Floating point division by zero");
DECLARE_FIXED_ERROR_CLASS(EOverflow, EMathError, "Floating point overflow");
DECLARE_FIXED_ERROR_CLASS(EUnderflow, EMathError, "Floating point underflow");
DECLARE_FIXED_ERROR_CLASS(EPrivilege, EExternal, "Privileged instruction");
DECLARE_FIXED_ERROR_CLASS(EStackOverflow, EExternal, "Stack overflow");
DECLARE_FIXED_ERROR_CLASS(EControlC, EExternal, "Control-C hit");
DECLARE_ERROR_CLASS(EExternalException, EExternal);

/// Added to a system's error number that has no runtime I/O error number of
/// its own, where the number alone would read as one that has a fixed text
/// (EIO is 5 on Linux, which is not "File access denied"): the error then
/// shows "I/O error %d" with the system's number.
inline constexpr int kIoErrorWithoutFixedText = 0x40000000;

/// A failed console write or open. `ErrorCode()` is the runtime's I/O error
/// number, or the system's (without `kIoErrorWithoutFixedText`); the message
/// is "I/O error %d" or one of the fixed texts.
class EInOutError : public Exception {
 public:
  [[gnu::always_inline]] explicit EInOutError(int error_code)
      : Exception(MessageFor(error_code)), error_code_(error_code & ~kIoErrorWithoutFixedText) {}
  int ErrorCode() const { return error_code_; }
  const char* ClassName() const override { return "EInOutError"; }

  /// The message for an I/O error number: seven numbers have fixed texts,
  /// unless marked with `kIoErrorWithoutFixedText`.
  static std::string MessageFor(int error_code);

  /// Whether an unmarked number shows a fixed text. Allocates nothing.
  static bool HasFixedText(int error_code);

 private:
  int error_code_;
};

/// A new handler (`std::set_new_handler`) that raises `EOutOfMemory`: with it
/// installed, every allocation that finds no memory raises the runtime's own
/// error, which the handlers that take `Exception` take.
[[noreturn]] void RaiseOutOfMemory();

/// "'%s' is not a valid integer value" for a text that does not convert.
EConvertError InvalidIntegerError(const std::string& text);

/// Converts plain decimal text (an optional sign, then digits) to an int;
/// raises `EConvertError` for anything else, the empty text included.
int StrToInt(const std::string& text);
