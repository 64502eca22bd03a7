#include "transport/transport_component.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "transport/anti_freeze.h"
#include "transport/process_stack.h"
#include "transport/socket_stack.h"
#include "transport/testing/fault_injecting_stack.h"
#include "transport/transport_errors.h"

namespace {

struct Event {
  TIdStatus status;
  std::string text;
};

TEST(StatusTest, NothingWithoutHandlerAndFixedTextsWithOne) {
  ScopedStackClass stack_class(&StackClassOf<testing_support::FaultInjectingStack>);
  TIdComponent component(nullptr);
  component.ReportStatus(TIdStatus::hsConnected, {"host"});  // no handler: nothing happens

  std::vector<Event> events;
  component.OnStatus = [&](TComponent* sender, TIdStatus status, const std::string& text) {
    EXPECT_EQ(sender, &component);
    events.push_back({status, text});
  };
  component.ReportStatus(TIdStatus::hsConnected, {"host"});
  component.ReportStatus(TIdStatus::hsStatusText);
  component.ReportStatus(TIdStatus::hsResolving, {"example.test", "ignored"});
  component.ReportStatus(TIdStatus::hsConnecting, {"127.0.0.1"});
  component.ReportStatus(TIdStatus::hsDisconnecting);
  component.ReportStatus(TIdStatus::hsDisconnected);
  component.ReportStatus(TIdStatus::ftpAborted, {"text"});
  std::vector<std::string> texts;
  for (const Event& e : events) texts.push_back(e.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Connected.", "", "Resolving hostname example.test.",
                                             "Connecting to 127.0.0.1.", "Disconnecting.",
                                             "Disconnected.", "text"}));
}

TEST(WorkTest, NestedBracketsShareOneCountAndModesAreIndependent) {
  ScopedStackClass stack_class(&StackClassOf<testing_support::FaultInjectingStack>);
  TIdComponent component(nullptr);
  std::vector<std::string> log;
  auto mode_name = [](TWorkMode mode) { return mode == TWorkMode::wmRead ? "r" : "w"; };
  component.OnWorkBegin = [&](TComponent*, TWorkMode mode, std::int32_t max) {
    log.push_back(std::string("begin ") + mode_name(mode) + " " + std::to_string(max));
  };
  component.OnWork = [&](TComponent*, TWorkMode mode, std::int32_t count) {
    log.push_back(std::string("work ") + mode_name(mode) + " " + std::to_string(count));
  };
  component.OnWorkEnd = [&](TComponent*, TWorkMode mode) {
    log.push_back(std::string("end ") + mode_name(mode));
  };

  component.ReportWork(TWorkMode::wmRead, 7);  // outside a bracket: nothing
  component.StartWork(TWorkMode::wmRead, 100);
  component.StartWork(TWorkMode::wmRead, 50);  // nested: no second begin
  component.ReportWork(TWorkMode::wmRead, 5);
  component.StartWork(TWorkMode::wmWrite, 3);
  component.ReportWork(TWorkMode::wmWrite, 2);
  component.ReportWork(TWorkMode::wmRead, 5);
  component.FinishWork(TWorkMode::wmRead);  // inner: nothing
  component.FinishWork(TWorkMode::wmWrite);
  component.FinishWork(TWorkMode::wmRead);
  component.ReportWork(TWorkMode::wmRead, 1);  // closed again: nothing

  EXPECT_EQ(log, (std::vector<std::string>{"begin r 100", "work r 5", "begin w 3", "work w 2",
                                           "work r 10", "end w", "end r"}));
}

// A stack that counts its own lives.
int g_stacks_made = 0;
int g_stacks_freed = 0;
class CountingStack : public testing_support::FaultInjectingStack {
 public:
  CountingStack() { ++g_stacks_made; }
  ~CountingStack() override { ++g_stacks_freed; }
};

// Records which components were alive when the stack went away.
std::vector<std::string>* g_order = nullptr;
class Named : public TIdComponent {
 public:
  Named(TComponent* owner, std::string name) : TIdComponent(owner), name_(std::move(name)) {}
  ~Named() override {
    if (g_order) g_order->push_back(name_ + (SocketStack ? " (stack alive)" : " (no stack)"));
  }

 private:
  std::string name_;
};

TEST(StackLifetimeTest, FirstComponentCreatesStackLastFreesItAfterOwnedOnes) {
  ScopedStackClass stack_class(&StackClassOf<CountingStack>);
  g_stacks_made = g_stacks_freed = 0;
  std::vector<std::string> order;
  g_order = &order;
  {
    auto* a = new Named(nullptr, "a");
    EXPECT_EQ(g_stacks_made, 1);
    auto* b = new Named(a, "b");  // owned by a
    Named c(nullptr, "c");
    EXPECT_EQ(LiveComponentCount, 3);
    delete a;  // destroys b too
    EXPECT_EQ(LiveComponentCount, 1);
    EXPECT_EQ(g_stacks_freed, 0);
    (void)b;
  }
  EXPECT_EQ(g_stacks_freed, 1);
  EXPECT_EQ(LiveComponentCount, 0);
  EXPECT_EQ(SocketStack, nullptr);
  { Named again(nullptr, "again"); }
  EXPECT_EQ(g_stacks_made, 2);
  EXPECT_EQ(order, (std::vector<std::string>{"a (stack alive)", "b (stack alive)",
                                             "c (stack alive)", "again (stack alive)"}));
  g_order = nullptr;
}

class FailingStack : public testing_support::FaultInjectingStack {
 public:
  FailingStack() { throw EIdStackInitializationFailed(); }
};

TEST(StackLifetimeTest, FailedStackCreationLeavesCountAndStackUnchanged) {
  ScopedStackClass stack_class(&StackClassOf<FailingStack>);
  EXPECT_THROW(TIdComponent component(nullptr), EIdStackInitializationFailed);
  EXPECT_EQ(LiveComponentCount, 0);
  EXPECT_EQ(SocketStack, nullptr);
}

TEST(StackLifetimeTest, ComponentsOnManyThreadsShareOneStack) {
  ScopedStackClass stack_class(&StackClassOf<CountingStack>);
  g_stacks_made = g_stacks_freed = 0;
  TIdComponent keeper(nullptr);  // keeps the stack alive throughout
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) TIdComponent component(nullptr);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(LiveComponentCount, 1);
  EXPECT_EQ(g_stacks_made, 1);
  EXPECT_EQ(g_stacks_freed, 0);
}

class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  using TIdAntiFreezeBase::TIdAntiFreezeBase;
  void ProcessEvents() override { ++calls; }
  int calls = 0;
};

TEST(AntiFreezeTest, GivesTimeOnlyOnTheMainThreadWhileRegistered) {
  TIdAntiFreezeBase::GiveTime(true, false);  // none registered: returns at once
  EXPECT_FALSE(TIdAntiFreezeBase::AntiFreezeInUse());
  {
    CountingAntiFreeze anti_freeze(nullptr);
    EXPECT_TRUE(TIdAntiFreezeBase::AntiFreezeInUse());
    TIdAntiFreezeBase::GiveTime(true, false);
    TIdAntiFreezeBase::GiveTime(false, false);  // not idle and only when idle: nothing
    TIdAntiFreezeBase::GiveTime(false, true);   // override
    std::thread other([] {
      EXPECT_FALSE(TIdAntiFreezeBase::AntiFreezeInUse());
      TIdAntiFreezeBase::GiveTime(true, true);
    });
    other.join();
    anti_freeze.Active = false;
    TIdAntiFreezeBase::GiveTime(true, true);
    EXPECT_EQ(anti_freeze.calls, 2);
  }
  EXPECT_EQ(TIdAntiFreezeBase::Registered(), nullptr);
}

}  // namespace
