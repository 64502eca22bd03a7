// Host and service lookups in the Windows record layouts. Where the answer
// depends on the machine's configuration, the system's own lookup is the
// reference.

#include <netdb.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/sockets_posix/testing/ws2_32_fixture.h"

namespace {

class NameLookupTest : public Ws2Test {};

std::vector<std::string> Addresses(const ws::HostEnt& host) {
  std::vector<std::string> texts;
  for (char** entry = host.h_addr_list; *entry != nullptr; ++entry) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(*entry);
    texts.push_back(std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) +
                    "." + std::to_string(b[3]));
  }
  return texts;
}

TEST_F(NameLookupTest, UnknownHostGives11001) {
  ws2.WSASetLastError(0);
  EXPECT_EQ(ws2.gethostbyname("no-such-host.invalid"), nullptr);
  EXPECT_EQ(ws2.WSAGetLastError(), 11001);
}

TEST_F(NameLookupTest, HostRecordHasTheWindowsLayout) {
  for (const char* name : {"localhost", "127.0.0.1"}) {
    SCOPED_TRACE(name);
    ws::HostEnt* host = ws2.gethostbyname(name);
    ASSERT_NE(host, nullptr) << ws2.WSAGetLastError();
    EXPECT_EQ(host->h_addrtype, ws::kAfInet);
    EXPECT_EQ(host->h_length, 4);
    ASSERT_NE(host->h_name, nullptr);
    ASSERT_NE(host->h_aliases, nullptr);
    std::vector<std::string> addresses = Addresses(*host);
    ASSERT_FALSE(addresses.empty());
    EXPECT_EQ(addresses.front(), "127.0.0.1");
  }
  EXPECT_STREQ(ws2.gethostbyname("127.0.0.1")->h_name, "127.0.0.1");
}

TEST_F(NameLookupTest, RecordsBelongToTheCallingThread) {
  ws::HostEnt* mine = ws2.gethostbyname("127.0.0.1");
  ASSERT_NE(mine, nullptr);
  std::thread([&] { ASSERT_NE(ws2.gethostbyname("10.1.2.3"), nullptr); }).join();
  EXPECT_STREQ(mine->h_name, "127.0.0.1");
  EXPECT_EQ(Addresses(*mine), std::vector<std::string>{"127.0.0.1"});
}

TEST_F(NameLookupTest, AddressLookupMatchesTheSystem) {
  const char loopback[4] = {127, 0, 0, 1};
  hostent* reference = gethostbyaddr(loopback, 4, AF_INET);
  ws::HostEnt* host = ws2.gethostbyaddr(loopback, 4, ws::kAfInet);
  if (reference == nullptr) {
    EXPECT_EQ(host, nullptr);
    return;
  }
  ASSERT_NE(host, nullptr) << ws2.WSAGetLastError();
  EXPECT_STREQ(host->h_name, reference->h_name);
  EXPECT_EQ(Addresses(*host), std::vector<std::string>{"127.0.0.1"});

  EXPECT_EQ(ws2.gethostbyaddr(loopback, 4, 23), nullptr);
  EXPECT_EQ(ws2.WSAGetLastError(), 10047);
  EXPECT_EQ(ws2.gethostbyaddr(loopback, 2, ws::kAfInet), nullptr);
  EXPECT_EQ(ws2.WSAGetLastError(), 10014);
}

TEST_F(NameLookupTest, HostNameMatchesTheSystemAndIsNeverCut) {
  char reference[256] = {};
  ASSERT_EQ(gethostname(reference, sizeof reference - 1), 0);
  char name[256];
  ASSERT_EQ(ws2.gethostname(name, sizeof name), 0);
  EXPECT_STREQ(name, reference);
  int exact = static_cast<int>(std::strlen(reference)) + 1;
  EXPECT_EQ(ws2.gethostname(name, exact), 0);
  EXPECT_EQ(ws2.gethostname(name, exact - 1), -1);
  EXPECT_EQ(ws2.WSAGetLastError(), 10014);
}

TEST_F(NameLookupTest, ServicesMatchTheSystemDatabase) {
  servent* reference = getservbyname("http", "tcp");
  if (reference == nullptr) GTEST_SKIP() << "this system's service database lacks http";
  const std::string official = reference->s_name;
  const int network_port = reference->s_port;

  ws::ServEnt* by_name = ws2.getservbyname("http", "tcp");
  ASSERT_NE(by_name, nullptr) << ws2.WSAGetLastError();
  EXPECT_EQ(by_name->s_name, official);
  EXPECT_EQ(static_cast<std::uint16_t>(by_name->s_port), network_port);
  EXPECT_EQ((ws2.ntohs)(static_cast<std::uint16_t>(by_name->s_port)), 80);
  EXPECT_STREQ(by_name->s_proto, "tcp");
  ASSERT_NE(by_name->s_aliases, nullptr);

  ws::ServEnt* by_port = ws2.getservbyport((ws2.htons)(80), "tcp");
  ASSERT_NE(by_port, nullptr) << ws2.WSAGetLastError();
  EXPECT_EQ(by_port->s_name, official);

  ASSERT_NE(ws2.getservbyname("http", nullptr), nullptr);  // any protocol

  EXPECT_EQ(ws2.getservbyname("no-such-service", "tcp"), nullptr);
  EXPECT_EQ(ws2.WSAGetLastError(), 11004);
  EXPECT_EQ(ws2.getservbyport((ws2.htons)(1), "no-such-protocol"), nullptr);
  EXPECT_EQ(ws2.WSAGetLastError(), 11004);
}

}  // namespace
