#include "transport/sockets_binding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "platform/dynamic_library.h"
#include "transport/process_stack.h"
#include "transport/sockets_library_stack.h"
#include "transport/tcp_client.h"
#include "transport/transport_errors.h"
#include "transport/transport_module.h"

// Each case that loads a library runs in a child process of its own (a death
// test that exits with 0 when every check held): the binding's state is
// process-wide and, like the real one, never starts the library twice.

namespace {

// The stand-in: its path on POSIX systems; its file name on Windows, where
// the system looks beside the executable first.
constexpr const char* kFakeLibrary = FAKE_SOCKETS_LIBRARY;

// A function of the stand-in. The test keeps its own reference to the
// library for the rest of the process, so that the function stays callable
// after the binding released the library.
template <typename Fn>
Fn FakeFunction(const char* name) {
  static std::unique_ptr<DynamicLibrary> library = [] {
    std::int32_t code = 0;
    return DynamicLibrary::Load(kFakeLibrary, &code);
  }();
  return library != nullptr ? reinterpret_cast<Fn>(library->Symbol(name)) : nullptr;
}

int StartupCount() { return FakeFunction<int (*)()>("FakeStartupCount")(); }

#define EXIT_CHECK(condition)                                 \
  do {                                                        \
    if (!(condition)) {                                       \
      std::fprintf(stderr, "check failed: %s\n", #condition); \
      std::_Exit(1);                                          \
    }                                                         \
  } while (0)

class SocketsBindingTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SocketsBindingTest, MissingLibraryRaisesStubErrorFromTheFirstComponent) {
  EXPECT_EXIT(
      {
        StartTransportModule();
        sockets_binding::SetSocketsLibraryFileName("libno_such_sockets_library.so");
        try {
          TIdTCPClient client;
          EXIT_CHECK(false);
        } catch (const EIdWS2StubError& e) {
          EXIT_CHECK(e.BaseText() ==
                     "Error on loading Winsock2 library (libno_such_sockets_library.so)");
          EXIT_CHECK(e.SystemCode() != 0);
          EXIT_CHECK(e.Message() == e.BaseText() + ": " + e.SystemText());
          EXIT_CHECK(std::string(e.ClassName()) == "EIdWS2StubError");
        }
        // The half-built component left nothing behind.
        EXIT_CHECK(LiveComponentCount == 0);
        EXIT_CHECK(SocketStack == nullptr);
        EXIT_CHECK(!SocketsStarted());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SocketsBindingTest, StartsOncePerProcessAndCleansUpAtExit) {
  EXPECT_EXIT(
      {
        StartTransportModule();
        sockets_binding::SetSocketsLibraryFileName(kFakeLibrary);
        {
          TIdTCPClient a;
          TIdTCPClient b;
          EXIT_CHECK(StartupCount() == 1);
        }
        EXIT_CHECK(SocketStack == nullptr);  // freed with the last component
        {
          TIdTCPClient c;  // a new stack, but the library is not started again
          EXIT_CHECK(SocketStack != nullptr);
          EXIT_CHECK(StartupCount() == 1);
        }
        int (*cleanups)() = FakeFunction<int (*)()>("FakeCleanupCount");
        StopTransportModule();
        EXIT_CHECK(cleanups() == 1);
        EXIT_CHECK(!sockets_binding::IsSocketsLibraryLoaded());
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SocketsBindingTest, FailedStartupRaisesAndALaterStackCountsAsStarted) {
  EXPECT_EXIT(
      {
        StartTransportModule();
        sockets_binding::SetSocketsLibraryFileName(kFakeLibrary);
        // Load it first so that the refusal can be set before start-up runs;
        // loaded like the binding does, from beside the executable.
        std::int32_t code = 0;
        auto library = DynamicLibrary::Load(kFakeLibrary, &code);
        EXIT_CHECK(library != nullptr);
        reinterpret_cast<void (*)(int)>(library->Symbol("FakeSetStartupResult"))(10091);
        try {
          TIdTCPClient client;
          EXIT_CHECK(false);
        } catch (const EIdStackInitializationFailed& e) {
          EXIT_CHECK(e.Message() == "Winsock Initialization Error.");
        }
        EXIT_CHECK(!SocketsStarted());
        EXIT_CHECK(sockets_binding::IsSocketsLibraryLoaded());  // stays loaded
        EXIT_CHECK(LiveComponentCount == 0);
        TIdTCPClient later;  // the library is loaded: start-up returns 0 at once
        EXIT_CHECK(SocketsStarted());
        EXIT_CHECK(StartupCount() == 1);
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SocketsBindingTest, CallsIntoAnUnloadedOrIncompleteLibraryRaiseStubErrors) {
  EXPECT_EXIT(
      {
        StartTransportModule();
        try {
          sockets_binding::Target(sockets_binding::Entry::socket);
          EXIT_CHECK(false);
        } catch (const EIdWS2StubError& e) {
          EXIT_CHECK(e.BaseText() == "Error on call Winsock2 library function socket");
          EXIT_CHECK(e.SystemCode() == 10093);
#ifndef _WIN32
          // The system has no text for the sockets library's own code.
          EXIT_CHECK(e.SystemText() == "The sockets library has not been started");
#endif
        }
        sockets_binding::SetSocketsLibraryFileName(kFakeLibrary);
        TIdTCPClient client;
        try {
          client.OpenConnection(0);  // the fake library has no "socket"
          EXIT_CHECK(false);
        } catch (const EIdWS2StubError& e) {
          EXIT_CHECK(e.Message() == "Error on call Winsock2 library function socket");
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SocketsBindingTest, HostWithoutAnyAddressRaisesNoAddress) {
  EXPECT_EXIT(
      {
        StartTransportModule();
        sockets_binding::SetSocketsLibraryFileName(kFakeLibrary);
        TIdTCPClient client;
        // Filling the list before anyone asked for it makes the list.
        SocketStack->FillLocalAddressList();
        try {
          SocketStack->SockLookupHost("known-without-address");
          EXIT_CHECK(false);
        } catch (const EIdSocketError& e) {
          EXIT_CHECK(e.ErrorCode() == 11004);
          EXIT_CHECK(e.Message() == "Socket Error # 11004\r\n");
        }
        // The same for the local host, asked for its first address.
        EXIT_CHECK(SocketStack->LocalAddressList().empty());
        try {
          SocketStack->FirstLocalAddress();
          EXIT_CHECK(false);
        } catch (const EIdSocketError& e) {
          EXIT_CHECK(e.ErrorCode() == 11004);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(SocketsBindingTest, AfterReleaseEveryCallRaisesTheStubError) {
  EXPECT_EXIT(
      {
        StartTransportModule();
        TIdTCPClient client;  // the real library
        EXIT_CHECK(SocketStack->SockHostToNet16(1) == 256);
        StopTransportModule();
        try {
          SocketStack->SockHostToNet16(1);
          EXIT_CHECK(false);
        } catch (const EIdWS2StubError& e) {
          EXIT_CHECK(e.BaseText() == "Error on call Winsock2 library function htons");
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(SocketsBindingTableTest, NamesFollowTheLibraryTable) {
  EXPECT_STREQ(sockets_binding::EntryName(0), "WSACleanup");
  EXPECT_STREQ(sockets_binding::EntryName(static_cast<int>(sockets_binding::Entry::socket)),
               "socket");
  EXPECT_STREQ(
      sockets_binding::EntryName(static_cast<int>(sockets_binding::Entry::WSAGetLastError)),
      "WSAGetLastError");
  EXPECT_STREQ(sockets_binding::EntryName(96), "WSADuplicateSocketA");  // unsuffixed entry
  EXPECT_STREQ(sockets_binding::EntryName(111), "WSARecvEx");
}

}  // namespace
