// A stand-in sockets library for the binding's tests: it counts its start-up
// and clean-up calls, can be told to refuse start-up, and exports nothing
// else, so that any other function is missing from it.

#include <atomic>
#include <cstdint>

namespace {
std::atomic<int> g_startups{0};
std::atomic<int> g_cleanups{0};
std::atomic<int> g_startup_result{0};
}  // namespace

extern "C" {

__attribute__((visibility("default"))) int WSAStartup(std::uint16_t, void*) {
  ++g_startups;
  return g_startup_result.load();
}

__attribute__((visibility("default"))) int WSACleanup() {
  ++g_cleanups;
  return 0;
}

__attribute__((visibility("default"))) int FakeStartupCount() { return g_startups.load(); }
__attribute__((visibility("default"))) int FakeCleanupCount() { return g_cleanups.load(); }
__attribute__((visibility("default"))) void FakeSetStartupResult(int result) {
  g_startup_result = result;
}

}  // extern "C"
