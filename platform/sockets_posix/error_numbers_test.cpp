// The errno and resolver translation tables, called directly: most of these
// errors cannot be provoked on loopback.

#include "platform/sockets_posix/error_numbers.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace {

// The translation table states each errno value's number once; retyping it
// here would only copy it. What the table does not show is tested instead:
// values that share a number (aliases on some systems, or two causes of one
// error), the answer for a value without a counterpart, 0, and that nothing
// lands outside the Windows Sockets numbers.
TEST(ErrorNumbersTest, ErrnoValuesThatShareANumberGetTheSameOne) {
  struct Case {
    int errno_value;
    int same_as;
  } cases[] = {
      {EWOULDBLOCK, EAGAIN}, {ENOTSUP, EOPNOTSUPP}, {EPERM, EACCES},
      {ENFILE, EMFILE},      {ENOMEM, ENOBUFS},     {ESHUTDOWN, EPIPE},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wsposix::WsaErrorFromErrno(c.errno_value), wsposix::WsaErrorFromErrno(c.same_as))
        << "errno " << c.errno_value << " and " << c.same_as;
    EXPECT_NE(wsposix::WsaErrorFromErrno(c.errno_value), wsposix::kWsaSysCallFailure)
        << "errno " << c.errno_value;
  }
}

TEST(ErrorNumbersTest, ZeroStaysZeroAndUnknownValuesAreSystemCallFailures) {
  EXPECT_EQ(wsposix::WsaErrorFromErrno(0), 0);
  for (int errno_value : {EIO, ENOSPC, 12345, -1}) {
    EXPECT_EQ(wsposix::WsaErrorFromErrno(errno_value), 10107) << "errno " << errno_value;
  }
}

TEST(ErrorNumbersTest, EveryErrnoValueGivesAWindowsSocketsNumber) {
  for (int errno_value = 1; errno_value < 4096; ++errno_value) {
    const int wsa_error = wsposix::WsaErrorFromErrno(errno_value);
    EXPECT_TRUE((wsa_error >= 10004 && wsa_error <= 10066) || wsa_error == 10107)
        << "errno " << errno_value << " gives " << wsa_error;
  }
}

TEST(ErrorNumbersTest, ResolverResultsMapToWindowsSocketsNumbers) {
  struct Case {
    int eai_value;
    int errno_value;
    int wsa_error;
  } cases[] = {
      {EAI_NONAME, 0, 11001},      {EAI_AGAIN, 0, 11002},
      {EAI_FAIL, 0, 11003},        {EAI_NODATA, 0, 11004},
      {EAI_ADDRFAMILY, 0, 11004},  {EAI_MEMORY, 0, 10055},
      {EAI_SYSTEM, EMFILE, 10024}, {EAI_SYSTEM, ECONNREFUSED, 10061},
      {EAI_SERVICE, 0, 11003},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wsposix::WsaErrorFromResolver(c.eai_value, c.errno_value), c.wsa_error)
        << "EAI " << c.eai_value;
  }
}

}  // namespace
