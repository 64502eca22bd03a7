#include "platform/testing/run_in_child.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/testing/self_child_win32.h"

bool ChildOutcome::Exited(int code) const { return finished && status == code; }

bool ChildOutcome::KilledBy(int) const { return false; }

ChildOutcome RunInChild(const std::function<void()>& body) {
  static std::string counted_test;
  static int calls = 0;
  const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string test_name = std::string(test->test_suite_name()) + "." + test->name();
  if (test_name != counted_test) {
    counted_test = test_name;
    calls = 0;
  }
  std::string call = std::to_string(++calls);
  std::string wanted = SelfChildCase();
  if (!wanted.empty()) {
    if (wanted != call) return {};
    body();
    _exit(0);
  }
  SelfChildOutcome child = RunSelfChild(test_name, call);
  ChildOutcome outcome;
  outcome.status = static_cast<int>(child.exit_code);
  outcome.finished = child.finished;
  outcome.out = std::move(child.out);
  outcome.err = std::move(child.err);
  return outcome;
}
