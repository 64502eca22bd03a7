#include "tests/fault_injection/call_faults.h"

#include <atomic>
#include <charconv>
#include <mutex>
#include <stdexcept>

namespace {

constexpr std::string_view kKindNames[kCallKindCount] = {
    "socket",     "console-write", "thread-start", "library-load",
    "allocation", "clock-read",    "locale-read"};

// The bookkeeping is plain data behind a lock that is never held while
// allocating, so that the allocation seam can count without recursion.
struct Run {
  std::mutex mutex;
  bool active = false;
  std::optional<CallFaultPlan> plan;
  CallFaults::FirstFaultObserver observer;
  CallCounts counts;
};

// Constant-initialised, so that the allocation seam may ask before and
// after anything else runs.
Run g_run;

Run& TheRun() { return g_run; }

thread_local bool t_in_harness = false;

}  // namespace

std::string_view CallKindName(CallKind kind) { return kKindNames[static_cast<std::size_t>(kind)]; }

CallFaultPlan CallFaultPlan::Parse(std::string_view text) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    throw std::invalid_argument("fault plan '" + std::string(text) +
                                "': expected KIND:N or KIND:N+");
  }
  std::string_view kind_text = text.substr(0, colon);
  std::string_view count_text = text.substr(colon + 1);
  CallFaultPlan plan;
  if (kind_text != "any") {
    bool known = false;
    for (std::size_t i = 0; i < kCallKindCount; ++i) {
      if (kKindNames[i] == kind_text) {
        plan.kind = static_cast<CallKind>(i);
        known = true;
      }
    }
    if (!known) {
      std::string kinds = "any";
      for (std::string_view name : kKindNames) kinds += ", " + std::string(name);
      throw std::invalid_argument("fault plan '" + std::string(text) + "': unknown call kind '" +
                                  std::string(kind_text) + "' (known: " + kinds + ")");
    }
  }
  if (!count_text.empty() && count_text.back() == '+') {
    plan.stays_failed = true;
    count_text.remove_suffix(1);
  }
  long long n = 0;
  auto [end, error] = std::from_chars(count_text.data(), count_text.data() + count_text.size(), n);
  if (count_text.empty() || error != std::errc() || end != count_text.data() + count_text.size()) {
    throw std::invalid_argument("fault plan '" + std::string(text) + "': the count '" +
                                std::string(count_text) + "' is not a whole number");
  }
  if (n < 1) {
    throw std::invalid_argument("fault plan '" + std::string(text) +
                                "': the count must be 1 or more (calls count from 1)");
  }
  plan.n = static_cast<std::size_t>(n);
  return plan;
}

std::string CallFaultPlan::Text() const {
  return std::string(kind ? CallKindName(*kind) : "any") + ":" + std::to_string(n) +
         (stays_failed ? "+" : "");
}

void CallFaults::Start(const std::optional<CallFaultPlan>& plan, FirstFaultObserver observer) {
  HarnessScope harness;
  Run& run = TheRun();
  std::lock_guard<std::mutex> lock(run.mutex);
  run.plan = plan;
  run.observer = std::move(observer);
  run.counts = CallCounts();
  run.active = true;
}

CallCounts CallFaults::Stop() {
  HarnessScope harness;
  Run& run = TheRun();
  std::lock_guard<std::mutex> lock(run.mutex);
  run.active = false;
  run.observer = nullptr;
  return run.counts;
}

bool CallFaults::Fails(CallKind kind) {
  if (t_in_harness) return false;
  Run& run = TheRun();
  FirstFaultObserver observer;
  {
    std::lock_guard<std::mutex> lock(run.mutex);
    if (!run.active) return false;
    std::size_t& of_kind = run.counts.per_kind[static_cast<std::size_t>(kind)];
    ++of_kind;
    ++run.counts.all;
    if (!run.plan) return false;
    const CallFaultPlan& plan = *run.plan;
    if (plan.kind && *plan.kind != kind) return false;
    std::size_t number = plan.kind ? of_kind : run.counts.all;
    bool fails = number == plan.n || (plan.stays_failed && number > plan.n);
    if (!fails) return false;
    if (++run.counts.injected == 1) {
      // Taken out, so that it runs without the lock (it may allocate, and
      // allocations ask here) and only once.
      HarnessScope harness;
      observer = std::move(run.observer);
      run.observer = nullptr;
    }
  }
  if (observer) {
    HarnessScope harness;
    observer(kind);
  }
  return true;
}

CallFaults::HarnessScope::HarnessScope() : previous_(t_in_harness) { t_in_harness = true; }

CallFaults::HarnessScope::~HarnessScope() { t_in_harness = previous_; }
