// The errno and resolver translation tables, called directly: most of these
// errors cannot be provoked on loopback.

#include "platform/sockets_posix/error_numbers.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace {

TEST(ErrorNumbersTest, ErrnoValuesMapToWindowsSocketsNumbers) {
  struct Case {
    int errno_value;
    int wsa_error;
  } cases[] = {
      {0, 0},
      {EINTR, 10004},
      {EBADF, 10009},
      {EACCES, 10013},
      {EPERM, 10013},
      {EFAULT, 10014},
      {EINVAL, 10022},
      {EMFILE, 10024},
      {ENFILE, 10024},
      {EAGAIN, 10035},
      {EWOULDBLOCK, 10035},
      {EINPROGRESS, 10036},
      {EALREADY, 10037},
      {ENOTSOCK, 10038},
      {EDESTADDRREQ, 10039},
      {EMSGSIZE, 10040},
      {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042},
      {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044},
      {EOPNOTSUPP, 10045},
      {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047},
      {EADDRINUSE, 10048},
      {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050},
      {ENETUNREACH, 10051},
      {ENETRESET, 10052},
      {ECONNABORTED, 10053},
      {ECONNRESET, 10054},
      {ENOBUFS, 10055},
      {ENOMEM, 10055},
      {EISCONN, 10056},
      {ENOTCONN, 10057},
      {EPIPE, 10058},
      {ESHUTDOWN, 10058},
      {ETOOMANYREFS, 10059},
      {ETIMEDOUT, 10060},
      {ECONNREFUSED, 10061},
      {ELOOP, 10062},
      {ENAMETOOLONG, 10063},
      {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065},
      {ENOTEMPTY, 10066},
      // Without a counterpart: "system call failure".
      {EIO, 10107},
      {ENOSPC, 10107},
      {12345, 10107},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wsposix::WsaErrorFromErrno(c.errno_value), c.wsa_error) << "errno " << c.errno_value;
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
