#pragma once

#include <string_view>

#include "platform/code_address.h"
#include "runtime/exception.h"

/// What the top-level handler shows of a failure: the class name of the
/// raised object (its own, most derived class), its message, which only
/// objects derived from `Exception` have, and where it was raised. The texts
/// are views into the raised object (or into static storage): a description
/// lives no longer than the object it describes, which the top-level handler
/// keeps until the process ends. Making one allocates nothing, so that a
/// failure can be described while memory is exhausted.
struct FailureDescription {
  std::string_view class_name;
  std::string_view message;
  /// The code address the failure was raised at; 0 when the raised object
  /// carries none (it is not an `Exception`).
  CodeAddress raise_address = 0;
};

/// The description of an error object.
FailureDescription DescribeFailure(const Exception& error);

/// The description of the failure being handled: inside a catch block only.
/// An object not derived from `Exception` has no message and no address; its
/// class name is its C++ type as the language runtime names it, demangled
/// ("std::runtime_error", "int") when memory allows, the runtime's raw name
/// otherwise, or "unknown" when the runtime can't tell.
FailureDescription DescribeCurrentFailure();
