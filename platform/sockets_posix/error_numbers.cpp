#include "platform/sockets_posix/error_numbers.h"

#include <netdb.h>

#include <cerrno>

#include "platform/sockets_posix/sockets_posix.h"

namespace wsposix {
namespace {

struct Translation {
  int errno_value;
  int wsa_error;
};

// Aliases that share a value on Linux (EAGAIN/EWOULDBLOCK, ENOTSUP/
// EOPNOTSUPP) are listed once each; the first match wins.
constexpr Translation kErrnoTable[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},
    {EPERM, 10013},  // a firewall rule refusing a connect reports EPERM
    {EFAULT, 10014},       {EINVAL, 10022},          {EMFILE, 10024},
    {ENFILE, 10024},       {EAGAIN, 10035},          {EWOULDBLOCK, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},        {ENOTSOCK, 10038},
    {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045},   {ENOTSUP, 10045},         {EPFNOSUPPORT, 10046},
    {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},
    {ECONNABORTED, 10053}, {ECONNRESET, 10054},      {ENOBUFS, 10055},
    {ENOMEM, 10055},       {EISCONN, 10056},         {ENOTCONN, 10057},
    {EPIPE, 10058},        {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},    {ELOOP, 10062},
    {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},
};

thread_local int last_error = 0;

}  // namespace

int WsaErrorFromErrno(int errno_value) {
  if (errno_value == 0) return 0;
  for (const Translation& t : kErrnoTable) {
    if (t.errno_value == errno_value) return t.wsa_error;
  }
  return kWsaSysCallFailure;
}

int WsaErrorFromResolver(int eai_value, int errno_value) {
  switch (eai_value) {
    case EAI_NONAME:
      return ws::kWsaHostNotFound;
    case EAI_AGAIN:
      return ws::kWsaTryAgain;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
      return ws::kWsaNoData;  // the name exists but has no IPv4 address
    case EAI_MEMORY:
      return kWsaENoBufs;
    case EAI_SYSTEM:
      return WsaErrorFromErrno(errno_value);
    default:  // EAI_FAIL and anything the resolver cannot explain
      return ws::kWsaNoRecovery;
  }
}

int Fail(int code) {
  last_error = code;
  return ws::kSocketError;
}

int FailWithErrno() { return Fail(WsaErrorFromErrno(errno)); }

int LastError() { return last_error; }

void SetLastError(int code) { last_error = code; }

}  // namespace wsposix
