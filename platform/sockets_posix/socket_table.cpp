#include "platform/sockets_posix/socket_table.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/sockets_posix/error_numbers.h"

namespace wsposix {

struct SocketEntry {
  explicit SocketEntry(int descriptor) : fd(descriptor) {}
  const int fd;
  // All below guarded by the table's mutex.
  int users = 0;
  bool closed = false;
  bool send_shut_down = false;
  bool receive_shut_down = false;
  int wake_fd = -1;  // the waiting connect's eventfd, -1 when none waits
  Interruption interruption = Interruption::kNone;
};

namespace {

struct Table {
  std::mutex mutex;
  std::unordered_map<int, std::shared_ptr<SocketEntry>> entries;  // guarded by mutex
};

Table& TheTable() {
  static Table table;
  return table;
}

bool ToDescriptor(ws::Socket s, int* fd) {
  if (s > static_cast<ws::Socket>(INT_MAX)) return false;
  *fd = static_cast<int>(s);
  return true;
}

// REQUIRES: the table's mutex is held.
void SignalWaiter(SocketEntry& entry, Interruption why) {
  if (entry.wake_fd < 0) return;
  if (why > entry.interruption) entry.interruption = why;
  // An eventfd write only fails when its counter would overflow, and a
  // counter that high is readable already.
  eventfd_write(entry.wake_fd, 1);
}

int CloseDescriptor(int fd) {
  // Linux releases the descriptor even when close() is interrupted; retrying
  // could close a number that another thread has received meanwhile.
  if (close(fd) == 0 || errno == EINTR) return 0;
  return WsaErrorFromErrno(errno);
}

}  // namespace

bool RegisterSocket(int fd) {
  Table& table = TheTable();
  try {
    auto entry = std::make_shared<SocketEntry>(fd);
    std::lock_guard<std::mutex> lock(table.mutex);
    // A left-over entry for this number can only belong to a descriptor that
    // was closed behind our back; the new socket replaces it.
    table.entries[fd] = std::move(entry);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

int CloseRegisteredSocket(ws::Socket s) {
  int fd;
  if (!ToDescriptor(s, &fd)) return ws::kWsaENotSock;
  Table& table = TheTable();
  {
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.entries.find(fd);
    if (it != table.entries.end()) {
      SocketEntry& entry = *it->second;
      if (entry.closed) return ws::kWsaENotSock;
      entry.closed = true;
      SignalWaiter(entry, Interruption::kClosed);
      if (entry.users > 0) return 0;  // the last user closes the descriptor
      table.entries.erase(it);
    }
  }
  // Outside the lock: with a linger time set, close() may block for seconds.
  return CloseDescriptor(fd);
}

SocketUse::SocketUse(ws::Socket s) {
  if (!ToDescriptor(s, &fd_)) {
    error_ = ws::kWsaENotSock;
    return;
  }
  Table& table = TheTable();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto it = table.entries.find(fd_);
  if (it == table.entries.end()) return;
  if (it->second->closed) {
    error_ = ws::kWsaENotSock;
    return;
  }
  it->second->users++;
  entry_ = it->second;
}

SocketUse::~SocketUse() {
  if (entry_ == nullptr) return;
  bool close_now = false;
  {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (--entry_->users == 0 && entry_->closed) {
      auto it = table.entries.find(fd_);
      // Only the entry that still owns the number may close it.
      if (it != table.entries.end() && it->second == entry_) {
        table.entries.erase(it);
        close_now = true;
      }
    }
  }
  if (close_now) CloseDescriptor(fd_);  // closesocket() has already reported success
}

bool SocketUse::SendShutDown() const {
  if (entry_ == nullptr) return false;
  std::lock_guard<std::mutex> lock(TheTable().mutex);
  return entry_->send_shut_down;
}

bool SocketUse::ReceiveShutDown() const {
  if (entry_ == nullptr) return false;
  std::lock_guard<std::mutex> lock(TheTable().mutex);
  return entry_->receive_shut_down;
}

void SocketUse::RecordShutdown(int how) {
  if (entry_ == nullptr) return;
  std::lock_guard<std::mutex> lock(TheTable().mutex);
  if (how == SHUT_RD || how == SHUT_RDWR) entry_->receive_shut_down = true;
  if (how == SHUT_WR || how == SHUT_RDWR) entry_->send_shut_down = true;
}

void SocketUse::Interrupt(Interruption why) {
  if (entry_ == nullptr) return;
  std::lock_guard<std::mutex> lock(TheTable().mutex);
  SignalWaiter(*entry_, why);
}

int SocketUse::BeginWait(int wake_fd) {
  if (entry_ == nullptr) return 0;
  std::lock_guard<std::mutex> lock(TheTable().mutex);
  if (entry_->closed) return ws::kWsaENotSock;
  if (entry_->wake_fd >= 0) return kWsaEAlready;
  entry_->wake_fd = wake_fd;
  entry_->interruption = Interruption::kNone;
  return 0;
}

Interruption SocketUse::EndWait() {
  if (entry_ == nullptr) return Interruption::kNone;
  std::lock_guard<std::mutex> lock(TheTable().mutex);
  entry_->wake_fd = -1;
  return entry_->interruption;
}

}  // namespace wsposix
