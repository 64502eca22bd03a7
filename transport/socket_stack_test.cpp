#include "transport/socket_stack.h"

#include <gtest/gtest.h>

#include <chrono>

#include "runtime/runtime_errors.h"
#include "transport/process_stack.h"
#include "transport/sockets_library_stack.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/testing/loopback_peer.h"
#include "transport/transport_component.h"
#include "transport/transport_errors.h"

namespace {

using testing_support::StackFaultPlan;
using testing_support::StackOperation;

// Holds one transport component, so that the process's stack exists (over
// the real sockets library) for the duration of a test.
class StackTest : public ::testing::Test {
 protected:
  ScopedStackClass stack_class_{&StackClassOf<testing_support::FaultInjectingStack>};

  void SetUp() override {
    StackFaultPlan::Get().Clear();
    holder_ = std::make_unique<TIdComponent>(nullptr);
  }
  void TearDown() override {
    holder_.reset();
    StackFaultPlan::Get().Clear();
  }
  TIdStack& stack() { return *SocketStack; }

  std::unique_ptr<TIdComponent> holder_;
};

TEST_F(StackTest, ErrorTextsFormatCodeAndText) {
  struct Case {
    int code;
    const char* message;
  } cases[] = {
      {10061, "Socket Error # 10061\r\nConnection refused."},
      {10035, "Socket Error # 10035\r\nOperation would block. "},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {11004, "Socket Error # 11004\r\n"},
      {12345, "Socket Error # 12345\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(stack().SocketErrorText(c.code), c.message) << c.code;
}

TEST_F(StackTest, CheckSocketResultIgnoresListedCodesAndRaisesOthers) {
  EXPECT_FALSE(stack().CheckSocketResult(0, {}));
  EXPECT_FALSE(stack().CheckSocketResult(5, {}));

  StackFaultPlan::Get().Fail(StackOperation::kReceive, 10053);
  int result = stack().SockReceive(0, nullptr, 0, 0);
  EXPECT_TRUE(stack().CheckSocketResult(result, {10053, 10058}));
  EXPECT_EQ(stack().LastErrorCode(), 10053);

  StackFaultPlan::Get().Fail(StackOperation::kReceive, 10054);
  result = stack().SockReceive(0, nullptr, 0, 0);
  try {
    stack().CheckSocketResult(result, {10053, 10058});
    FAIL() << "no error raised";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    EXPECT_STREQ(e.ClassName(), "EIdSocketError");
  }
  EXPECT_EQ(stack().LastErrorCode(), 10054);
}

TEST_F(StackTest, NewSocketFailureRaisesInvalidSocket) {
  StackFaultPlan::Get().Fail(StackOperation::kCreate, 10024);
  EXPECT_THROW(stack().NewSocket(ws::kSockStream, 0), EIdInvalidSocket);
}

TEST(DottedQuadTest, DecidesByFourWholeNumbersUpTo255) {
  struct Case {
    const char* text;
    bool dotted;
  } cases[] = {
      {"10.0.0.1", true},  {"127.0.0.1", true},   {"0.0.0.0", true},    {"255.255.255.255", true},
      {"10.0.0", false},   {"10.0.0.1.5", false}, {"256.1.1.1", false}, {"1.2.3.x", false},
      {"", false},         {"1..2.3", false},     {"localhost", false}, {" 1.2.3.4", false},
      {"1.2.3.4.", false},
  };
  for (const Case& c : cases) EXPECT_EQ(TIdStack::IsDottedQuad(c.text), c.dotted) << c.text;
}

TEST_F(StackTest, HostToIPMapsLocalhostAndQuadsWithoutLookup) {
  // A lookup would fail: the plan makes every lookup of this test fail.
  StackFaultPlan::Get().Fail(StackOperation::kLookupHost, 11001, 100);
  for (const char* name : {"localhost", "LocalHost", "LOCALHOST"}) {
    EXPECT_EQ(stack().HostToIP(name), "127.0.0.1") << name;
  }
  EXPECT_EQ(stack().HostToIP("10.0.0.1"), "10.0.0.1");
  try {
    stack().HostToIP(" localhost");  // not the name: looked up
    FAIL() << "no lookup";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 11001);
  }
}

TEST_F(StackTest, UnknownHostRaisesHostNotFound) {
  try {
    stack().HostToIP("no-such-host.invalid");
    FAIL() << "resolved";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.ErrorCode(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
}

TEST_F(StackTest, AddressTextRoundTripsAndBadPiecesRaiseConvertError) {
  EXPECT_EQ(stack().FormatAddressText({127, 0, 0, 1}), "127.0.0.1");
  EXPECT_EQ(stack().ParseAddressText("127.0.0.1"), (TIdIPv4Bytes{127, 0, 0, 1}));
  EXPECT_EQ(stack().ParseAddressText("1.2.3.4.99"), (TIdIPv4Bytes{1, 2, 3, 4}));
  EXPECT_EQ(stack().ParseAddressText("257.0.0.1"), (TIdIPv4Bytes{1, 0, 0, 1}));  // low 8 bits
  for (const char* bad : {"1.2.3", "a.b.c.d", "1.2..4", ""}) {
    EXPECT_THROW(stack().ParseAddressText(bad), EConvertError) << bad;
  }
}

TEST_F(StackTest, EmptyAddressIsRefusedByConnectAndSendTo) {
  // Only a bind reads an empty address as "any"; the others must not reach
  // the network with it. The conversion fails before any socket is touched.
  EXPECT_THROW(stack().SockConnect(ws::kInvalidSocket, ws::kAfInet, "", 47999), EConvertError);
  char byte = 0;
  EXPECT_THROW(stack().SockSendTo(ws::kInvalidSocket, &byte, 1, 0, "", 47999), EConvertError);
}

TEST_F(StackTest, SelectAcceptsSixtyFourSocketsAndRefusesMore) {
  // Connections on which nothing is sent: idle sockets.
  std::vector<testing_support::SocketPair> owned;
  TIdSocketList list;
  for (int i = 0; i < 65; ++i) {
    owned.push_back(testing_support::ConnectedPair());
    list.push_back(static_cast<ws::Socket>(owned.back().first.Get()));
  }
  TIdSocketList too_many = list;
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(stack().SockSelect(&too_many, nullptr, nullptr, 2000), EIdStackSetSizeExceeded);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));

  list.pop_back();
  EXPECT_EQ(stack().SockSelect(&list, nullptr, nullptr, 0), 0);  // nothing readable: polls
  EXPECT_TRUE(list.empty());                                     // replaced by the ready ones
}

TEST_F(StackTest, SelectTimeOutSplitsIntoSecondsAndMicroseconds) {
  testing_support::SocketPair idle = testing_support::ConnectedPair();
  TIdSocketList list{static_cast<ws::Socket>(idle.first.Get())};
  auto start = std::chrono::steady_clock::now();
  stack().SockSelect(&list, nullptr, nullptr, 1500);
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(1400));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
}

}  // namespace
