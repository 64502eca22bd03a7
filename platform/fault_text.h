#pragma once

// The texts of processor-fault errors, the same on every system; each
// system's fault handling only finds the facts they are made from.

#include <cstdint>
#include <string>

#include "platform/code_address.h"
#include "runtime/runtime_errors.h"

/// "Access violation at address %p in module '%s'. %s of address %p", or
/// without the module part when the code address lies in no module.
std::string AccessViolationText(CodeAddress code_address, bool write, CodeAddress data_address);

/// "External exception %X" with the fault code.
EExternalException ExternalExceptionFor(std::uint32_t code);
