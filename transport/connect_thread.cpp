#include "transport/connect_thread.h"

#include <new>
#include <system_error>

#include "runtime/runtime_errors.h"
#include "transport/process_stack.h"
#include "transport/socket_handle.h"
#include "transport/socket_stack.h"

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start() {
  try {
    thread_ = std::thread(&TIdConnectThread::Execute, this);
  } catch (const std::system_error& error) {
    throw EThread(std::string("Thread creation error: ") + error.code().message());
  }
}

void TIdConnectThread::WaitFor() {
  if (thread_.joinable()) thread_.join();
}

void TIdConnectThread::Execute() {
  try {
    try {
      // A socket closed under the connect by a time-out reports "bad file" or
      // "not a socket": that is the expected end, not a failure.
      SocketStack->CheckSocketResult(Target->ConnectSocket(ws::kAfInet),
                                     {ws::kWsaEBadF, ws::kWsaENotSock});
    } catch (const Exception& error) {
      failure_text_ = error.Message();  // the copy may run out of memory too
    }
  } catch (const std::bad_alloc&) {
    // Nothing may escape a thread; the caller reports this like any failure.
    // The text fits the string's own room: keeping it allocates nothing.
    failure_text_ = EOutOfMemory().Message();
  }
  finished_.store(true, std::memory_order_release);
}
