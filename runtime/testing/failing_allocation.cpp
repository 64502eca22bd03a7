#include "runtime/testing/failing_allocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::size_t> g_counted{0};
std::atomic<std::size_t> g_failed{0};
std::atomic<std::size_t> g_fail_at{0};  // 0: none fails
std::atomic<bool> g_stays_failed{false};
std::atomic<AllocationGate> g_gate{nullptr};

bool ThisOneFails() {
  if (AllocationGate gate = g_gate.load()) return gate();
  std::size_t number = ++g_counted;
  std::size_t fail_at = g_fail_at.load();
  bool fails = fail_at != 0 && (number == fail_at || (number > fail_at && g_stays_failed.load()));
  if (fails) ++g_failed;
  return fails;
}

void* Allocate(std::size_t size) {
  for (;;) {
    if (!ThisOneFails()) {
      if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    }
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) throw std::bad_alloc();
    // The handler raises (or makes room); a retry counts as another call.
    handler();
  }
}

}  // namespace

std::size_t AllocationsCounted() { return g_counted.load(); }
std::size_t AllocationsFailed() { return g_failed.load(); }

void CountAllocationsFromNow() {
  g_fail_at.store(0);
  g_counted.store(0);
  g_failed.store(0);
}

void FailAllocation(std::size_t n, bool stays_failed) {
  g_fail_at.store(0);
  g_counted.store(0);
  g_failed.store(0);
  g_stays_failed.store(stays_failed);
  g_fail_at.store(n);
}

void SetAllocationGate(AllocationGate gate) { g_gate.store(gate); }

// Every form of the replaceable allocation functions goes through the same
// malloc and free, so no sanitizer sees a mismatched pair. Kept out of line:
// inlined, GCC would see free() on a pointer from operator new and warn of a
// mismatch that the pairing rules out.
void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
[[gnu::noinline]] void operator delete(void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
[[gnu::noinline]] void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
[[gnu::noinline]] void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
