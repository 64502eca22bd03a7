#pragma once

// A socket stack for tests: the real one over the sockets library, except
// for the operations a test tells to fail. Install it through the stack
// class seam before the first transport component is created:
//   ScopedStackClass stack_class(&StackClassOf<FaultInjectingStack>);

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "transport/forwarding_stack.h"

namespace testing_support {

enum class StackOperation {
  kReceive,
  kSend,
  kConnect,
  kBind,
  kCreate,
  kSetOption,
  kLookupHost,
  kSelect,
};

/// What the fault-injecting stacks of this process do. Each planned fault
/// answers the next `times` calls of its operation with a failure (-1 and
/// the given code) or, with code 0, with the result 0 (a closed stream).
class StackFaultPlan {
 public:
  static StackFaultPlan& Get();

  void Fail(StackOperation operation, int code, int times = 1);
  void Clear();
  /// True (and the code) when the next call of `operation` is to fail.
  bool Take(StackOperation operation, int* code);

  struct OptionCall {
    int level;
    int option;
    std::int32_t value;  // a four-byte value, else 0
    bool operator==(const OptionCall&) const = default;
  };
  std::vector<OptionCall> OptionCalls();
  void RecordOption(int level, int option, std::int32_t value);

 private:
  struct Planned {
    StackOperation operation;
    int code;
    int times;
  };
  std::mutex mutex_;
  std::vector<Planned> planned_;
  std::vector<OptionCall> options_;
};

/// Forwards to the default stack; the operations below consult the plan
/// first. A subclass may add operations of its own the same way.
class FaultInjectingStack : public ForwardingStack {
 public:
  int SockReceive(ws::Socket s, void* buffer, int length, int flags) override;
  int SockSend(ws::Socket s, const void* buffer, int length, int flags) override;
  /// Code 0: the wait times out at once.
  int SockSelect(TIdSocketList* read, TIdSocketList* write, TIdSocketList* error,
                 int timeout_ms) override;
  int SockConnect(ws::Socket s, int family, const std::string& ip, int port) override;
  int SockBind(ws::Socket s, int family, const std::string& ip, int port) override;
  ws::Socket SockCreate(int family, int type, int protocol) override;
  int SockSetOption(ws::Socket s, int level, int option, const void* value, int length) override;
  std::string SockLookupHost(const std::string& host) override;
  int SockLastError() override;

 protected:
  /// -1 with the code remembered for SockLastError, 0 for a zero result,
  /// or 1 when the call is to go through.
  static int Inject(StackOperation operation);
};

}  // namespace testing_support
