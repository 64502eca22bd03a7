// What the processor-fault handlers do on every system, run on each of them;
// the faults themselves, which end the process that takes them, are tested
// in a child process by process_posix_test.cpp and process_win32_test.cpp.

#include "platform/process.h"

#include <gtest/gtest.h>

#include "runtime/exception.h"

namespace {

// Never called: these tests raise no fault.
void UnusedRoutine(const ProcessorFault&, CodeAddress) {}

TEST(ProcessorFaultHandlersTest, OneInstallationAtATime) {
  auto handlers = ProcessorFaultHandlers::Install(UnusedRoutine);
  ASSERT_NE(handlers, nullptr);
  try {
    ProcessorFaultHandlers::Install(UnusedRoutine);
    FAIL() << "a second installation was accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Processor fault handlers are already installed");
  }
  // The refused installation took nothing away from the first: its removal
  // frees the place, and a fresh installation is accepted.
  handlers.reset();
  EXPECT_NE(ProcessorFaultHandlers::Install(UnusedRoutine), nullptr);
}

TEST(ProcessorFaultHandlersTest, WithoutARoutineNothingIsInstalled) {
  EXPECT_THROW(ProcessorFaultHandlers::Install(nullptr), Exception);
  EXPECT_NE(ProcessorFaultHandlers::Install(UnusedRoutine), nullptr);
}

}  // namespace
