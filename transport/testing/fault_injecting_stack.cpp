#include "transport/testing/fault_injecting_stack.h"

#include <cstring>

namespace testing_support {
namespace {

// The code of the last injected failure of this thread, reported by the next
// SockLastError as the library reports the thread's last error.
thread_local int t_injected_code = 0;

}  // namespace

StackFaultPlan& StackFaultPlan::Get() {
  static StackFaultPlan plan;
  return plan;
}

void StackFaultPlan::Fail(StackOperation operation, int code, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  planned_.push_back({operation, code, times});
}

void StackFaultPlan::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  planned_.clear();
  options_.clear();
}

bool StackFaultPlan::Take(StackOperation operation, int* code) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = planned_.begin(); it != planned_.end(); ++it) {
    if (it->operation != operation) continue;
    *code = it->code;
    if (--it->times == 0) planned_.erase(it);
    return true;
  }
  return false;
}

std::vector<StackFaultPlan::OptionCall> StackFaultPlan::OptionCalls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return options_;
}

void StackFaultPlan::RecordOption(int level, int option, std::int32_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  options_.push_back({level, option, value});
}

int FaultInjectingStack::Inject(StackOperation operation) {
  int code = 0;
  if (!StackFaultPlan::Get().Take(operation, &code)) return 1;
  if (code == 0) return 0;
  t_injected_code = code;
  return -1;
}

int FaultInjectingStack::SockReceive(ws::Socket s, void* buffer, int length, int flags) {
  int injected = Inject(StackOperation::kReceive);
  return injected <= 0 ? injected : ForwardingStack::SockReceive(s, buffer, length, flags);
}

int FaultInjectingStack::SockSend(ws::Socket s, const void* buffer, int length, int flags) {
  int injected = Inject(StackOperation::kSend);
  return injected <= 0 ? injected : ForwardingStack::SockSend(s, buffer, length, flags);
}

int FaultInjectingStack::SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                                    int timeout_ms) {
  int injected = Inject(StackOperation::kSelect);
  return injected <= 0 ? injected : ForwardingStack::SockSelect(read, write, error, timeout_ms);
}

int FaultInjectingStack::SockConnect(ws::Socket s, int family, const std::string& ip, int port) {
  int injected = Inject(StackOperation::kConnect);
  return injected <= 0 ? -1 : ForwardingStack::SockConnect(s, family, ip, port);
}

int FaultInjectingStack::SockBind(ws::Socket s, int family, const std::string& ip, int port) {
  int injected = Inject(StackOperation::kBind);
  return injected <= 0 ? -1 : ForwardingStack::SockBind(s, family, ip, port);
}

ws::Socket FaultInjectingStack::SockCreate(int family, int type, int protocol) {
  int injected = Inject(StackOperation::kCreate);
  return injected <= 0 ? ws::kInvalidSocket : ForwardingStack::SockCreate(family, type, protocol);
}

int FaultInjectingStack::SockSetOption(ws::Socket s, int level, int option, const void* value,
                                       int length) {
  std::int32_t four_bytes = 0;
  if (value != nullptr && length == sizeof four_bytes) std::memcpy(&four_bytes, value, length);
  StackFaultPlan::Get().RecordOption(level, option, four_bytes);
  int injected = Inject(StackOperation::kSetOption);
  return injected <= 0 ? -1 : ForwardingStack::SockSetOption(s, level, option, value, length);
}

std::string FaultInjectingStack::SockLookupHost(const std::string& host) {
  if (Inject(StackOperation::kLookupHost) <= 0) CheckSocketResult(ws::kSocketError);
  return ForwardingStack::SockLookupHost(host);
}

int FaultInjectingStack::SockLastError() {
  // The library's code first: on Windows the first touch of a thread-local
  // variable in a thread can reset the thread's last error.
  int library_code = ForwardingStack::SockLastError();
  if (t_injected_code != 0) {
    int code = t_injected_code;
    t_injected_code = 0;
    return code;
  }
  return library_code;
}

}  // namespace testing_support
