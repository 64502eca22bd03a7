#include "program/failure_description.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

namespace {

// Demangled names live here, not on the heap: a description must outlive
// the call that made it without owning anything. A type's name is made once
// and kept. While another thread fills the table, or once it is full, the
// runtime's raw name stands in; nobody waits here.
struct DemangledName {
  const std::type_info* type = nullptr;
  char text[248] = {};
};
DemangledName g_names[8];
std::size_t g_name_count = 0;
std::atomic_flag g_names_busy = ATOMIC_FLAG_INIT;

const char* Demangled(const std::type_info* type) {
  for (std::size_t i = 0; i < g_name_count; ++i) {
    if (g_names[i].type == type) return g_names[i].text;
  }
  if (g_name_count == sizeof g_names / sizeof g_names[0]) return type->name();
  int status = 0;
  // Takes its memory from malloc and gives null when there is none, which
  // leaves the raw name.
  char* demangled = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
  if (status != 0 || demangled == nullptr) {
    std::free(demangled);
    return type->name();
  }
  DemangledName& entry = g_names[g_name_count++];
  entry.type = type;
  std::strncpy(entry.text, demangled, sizeof entry.text - 1);
  std::free(demangled);
  return entry.text;
}

std::string_view ForeignClassName() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type == nullptr) return "unknown";
  if (g_names_busy.test_and_set(std::memory_order_acquire)) return type->name();
  const char* name = Demangled(type);
  g_names_busy.clear(std::memory_order_release);
  return name;
}

}  // namespace

FailureDescription DescribeFailure(const Exception& error) {
  return {error.ClassName(), error.Message(), error.RaiseAddress()};
}

FailureDescription DescribeCurrentFailure() {
  try {
    throw;
  } catch (const Exception& error) {
    return DescribeFailure(error);
  } catch (...) {
    return {ForeignClassName(), "", 0};
  }
}
