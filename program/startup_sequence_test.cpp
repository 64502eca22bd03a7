#include "program/startup_sequence.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/exception.h"

namespace {

// A module that logs its steps and fails the ones it is told to fail, with a
// message naming the step.
class FakeModule final : public StartupModule {
 public:
  FakeModule(std::string name, std::string* log, bool fail_startup, bool fail_shutdown)
      : name_(std::move(name)),
        log_(log),
        fail_startup_(fail_startup),
        fail_shutdown_(fail_shutdown) {}

  void Startup() override {
    *log_ += "+" + name_;
    if (fail_startup_) throw Exception("start " + name_);
  }
  void Shutdown() override {
    *log_ += "-" + name_;
    if (fail_shutdown_) throw Exception("stop " + name_);
  }

 private:
  std::string name_;
  std::string* log_;
  bool fail_startup_;
  bool fail_shutdown_;
};

struct ModulePlan {
  const char* name;
  bool fail_startup = false;
  bool fail_shutdown = false;
};

// Builds the modules, runs start-up and, when it succeeded, shutdown; returns
// the log and the message of what escaped ("" for nothing).
struct Outcome {
  std::string log;
  std::string escaped;
  std::size_t active_after = 0;
};

Outcome RunSequence(const std::vector<ModulePlan>& plans) {
  Outcome outcome;
  std::vector<std::unique_ptr<FakeModule>> modules;
  std::vector<StartupModule*> order;
  for (const ModulePlan& plan : plans) {
    modules.push_back(std::make_unique<FakeModule>(plan.name, &outcome.log, plan.fail_startup,
                                                   plan.fail_shutdown));
    order.push_back(modules.back().get());
  }
  StartupSequence sequence(order);
  try {
    sequence.RunStartup();
    outcome.log += " |";
    sequence.RunShutdown();
  } catch (const Exception& e) {
    outcome.escaped = e.Message();
  }
  outcome.active_after = sequence.ActiveCount();
  // Whatever happened, a further shutdown finds nothing left to do.
  std::string before = outcome.log;
  sequence.RunShutdown();
  EXPECT_EQ(outcome.log, before) << "a shutdown step ran twice";
  return outcome;
}

TEST(StartupSequenceTest, OrderReverseOrderAndFailures) {
  struct Case {
    const char* title;
    std::vector<ModulePlan> modules;
    const char* log;
    const char* escaped;
  } cases[] = {
      {"all succeed", {{"a"}, {"b"}, {"c"}}, "+a+b+c |-c-b-a", ""},
      {"no modules", {}, " |", ""},
      {"middle start-up fails: it and the older ones shut down",
       {{"a"}, {"b", true}, {"c"}},
       "+a+b-b-a",
       "start b"},
      {"first start-up fails", {{"a", true}, {"b"}}, "+a-a", "start a"},
      {"last start-up fails", {{"a"}, {"b"}, {"c", true}}, "+a+b+c-c-b-a", "start c"},
      {"failing shutdown steps: the rest still run, the newest failure goes on",
       {{"a", false, true}, {"b"}, {"c", false, true}},
       "+a+b+c |-c-b-a",
       "stop c"},
      {"start-up failure wins over a failing shutdown step",
       {{"a", false, true}, {"b", true, true}, {"c"}},
       "+a+b-b-a",
       "start b"},
  };
  for (const Case& c : cases) {
    Outcome outcome = RunSequence(c.modules);
    EXPECT_EQ(outcome.log, c.log) << c.title;
    EXPECT_EQ(outcome.escaped, c.escaped) << c.title;
    EXPECT_EQ(outcome.active_after, 0u) << c.title;
  }
}

// A shutdown step that runs the shutdown again (as the end of the process
// does when a step fails fatally) leaves each remaining step to run once.
class ReenteringModule final : public StartupModule {
 public:
  ReenteringModule(StartupSequence** sequence, std::string* log) : sequence_(sequence), log_(log) {}
  void Shutdown() override {
    *log_ += "-r";
    (*sequence_)->RunShutdown();
  }

 private:
  StartupSequence** sequence_;
  std::string* log_;
};

TEST(StartupSequenceTest, AShutdownStepThatRunsTheShutdownAgainRunsNothingTwice) {
  std::string log;
  FakeModule a("a", &log, false, false);
  FakeModule b("b", &log, false, false);
  StartupSequence* self = nullptr;
  ReenteringModule r(&self, &log);
  StartupSequence sequence({&a, &r, &b});
  self = &sequence;
  sequence.RunStartup();
  sequence.RunShutdown();
  EXPECT_EQ(log, "+a+b-b-r-a");
}

TEST(StartupSequenceTest, ProcessSequenceRegistration) {
  EXPECT_EQ(ProcessStartupSequence(), nullptr);
  StartupSequence sequence({});
  SetProcessStartupSequence(&sequence);
  EXPECT_EQ(ProcessStartupSequence(), &sequence);
  SetProcessStartupSequence(nullptr);
}

}  // namespace
