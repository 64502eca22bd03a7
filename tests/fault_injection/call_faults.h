#pragma once

// Test support: systematic fault injection. Each kind of call the monitor
// makes to the world outside its own code goes through a seam that asks
// `CallFaults` whether this call fails; a `CallFaultPlan` says which one does:
// the N-th call of one kind, or the N-th call of any kind, once or (like
// exhausted memory or a dead disk) from then on.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

/// The kinds of call a fault can be injected into.
enum class CallKind {
  kSocket,        // a call of the socket stack (the stack class seam)
  kConsoleWrite,  // a write of the console sink
  kThreadStart,   // the start of a thread (the connect thread)
  kLibraryLoad,   // the load of the sockets library (its file name seam)
  kAllocation,    // a global allocation of the test program
  kClockRead,     // a read of the wall clock or its conversion to local time
  kLocaleRead,    // a read of the user's locale settings
};
inline constexpr std::size_t kCallKindCount = 7;

/// The plan's name of a kind: "socket", "console-write", "thread-start",
/// "library-load", "allocation", "clock-read", "locale-read".
std::string_view CallKindName(CallKind kind);

/// Which call fails. Made only by `Parse`, which rejects what would inject
/// nothing.
struct CallFaultPlan {
  /// Empty: the N-th call of any kind.
  std::optional<CallKind> kind;
  std::size_t n = 1;
  bool stays_failed = false;

  /// "KIND:N" fails the N-th call of KIND once, "KIND:N+" that call and
  /// every later one of the kind; KIND "any" counts calls of every kind
  /// together. Raises std::invalid_argument with a message that names the
  /// problem for an unknown kind, a missing or malformed count, or a count
  /// below 1.
  static CallFaultPlan Parse(std::string_view text);

  std::string Text() const;
};

/// What happened during a run: the calls counted per kind and in all, and
/// the faults injected.
struct CallCounts {
  std::array<std::size_t, kCallKindCount> per_kind{};
  std::size_t all = 0;
  std::size_t injected = 0;

  std::size_t Of(CallKind kind) const { return per_kind[static_cast<std::size_t>(kind)]; }
};

/// The process's fault injection. Thread-safe: the connect thread's calls go
/// through it as well.
class CallFaults {
 public:
  /// Called on the thread of the first call that the plan fails, before the
  /// call returns its failure, inside a `HarnessScope`: the moment to note
  /// where the code under test stood when its first fault struck.
  using FirstFaultObserver = std::function<void(CallKind)>;

  /// Starts counting from 0 with `plan` (none: a clean run that only counts).
  static void Start(const std::optional<CallFaultPlan>& plan,
                    FirstFaultObserver observer = nullptr);

  /// Stops counting and injecting; returns the counts of the run.
  static CallCounts Stop();

  /// Counts a call of `kind` and tells whether it is to fail. Calls made
  /// while this thread is inside the test harness (`HarnessScope`) or while
  /// no run is going are neither counted nor failed.
  static bool Fails(CallKind kind);

  /// While one lives, the calls of its thread belong to the test harness
  /// (recording the log, the scripted peer's bookkeeping), not to the code
  /// under test.
  class HarnessScope {
   public:
    HarnessScope();
    ~HarnessScope();
    HarnessScope(const HarnessScope&) = delete;
    HarnessScope& operator=(const HarnessScope&) = delete;

   private:
    bool previous_;
  };
};
