#include "runtime/component.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "runtime/testing/failing_allocation.h"

namespace {

// Records the removal notices it is given.
class Listener final : public TComponent {
 public:
  Listener() : TComponent(nullptr) {}
  std::vector<TComponent*> removed;

 protected:
  void Notification(TComponent* component, TOperation operation) override {
    if (operation == TOperation::opRemove) removed.push_back(component);
  }
};

TEST(FreeNotificationTest, TheOtherSideIsToldOfTheRemoval) {
  Listener listener;
  auto* watched = new Listener();
  const TComponent* address = watched;
  listener.FreeNotification(watched);
  delete watched;
  ASSERT_EQ(listener.removed.size(), 1u);
  EXPECT_EQ(listener.removed[0], address);
}

TEST(FreeNotificationTest, ALinkThatRunsOutOfMemoryLeavesNeitherSideLinked) {
  // The link takes one allocation on each side; either may fail. Afterwards
  // neither may refer to the other: a one-sided link would let the survivor
  // reach the other after its death.
  for (std::size_t failing : {1u, 2u}) {
    Listener survivor;
    auto* other = new Listener();
    FailAllocation(failing, false);
    EXPECT_THROW(other->FreeNotification(&survivor), std::bad_alloc) << failing;
    CountAllocationsFromNow();
    delete other;
    EXPECT_TRUE(survivor.removed.empty()) << failing;
  }
}

}  // namespace
