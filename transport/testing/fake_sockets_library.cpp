// A stand-in sockets library for the binding's tests: it counts its start-up
// and clean-up calls, can be told to refuse start-up, names its own host and
// answers every name lookup with a host that has no address
// (fake_name_lookup.cpp), and exports nothing else, so that any other
// function is missing from it.

#include <atomic>
#include <cstdint>

#include "transport/testing/fake_export.h"

namespace {
std::atomic<int> g_startups{0};
std::atomic<int> g_cleanups{0};
std::atomic<int> g_startup_result{0};
}  // namespace

extern "C" {

FAKE_EXPORT int FAKE_WS_API WSAStartup(std::uint16_t, void*) {
  ++g_startups;
  return g_startup_result.load();
}

FAKE_EXPORT int FAKE_WS_API WSACleanup() {
  ++g_cleanups;
  return 0;
}

FAKE_EXPORT int FakeStartupCount() { return g_startups.load(); }
FAKE_EXPORT int FakeCleanupCount() { return g_cleanups.load(); }
FAKE_EXPORT void FakeSetStartupResult(int result) { g_startup_result = result; }

}  // extern "C"
