#include "runtime/exception.h"

Exception::Exception(std::string message)
    : message_(std::move(message)),
      raise_address_(reinterpret_cast<std::uintptr_t>(__builtin_return_address(0))) {}
