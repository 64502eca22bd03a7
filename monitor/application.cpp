#include "monitor/application.h"

#include "platform/message_queue.h"

TApplication* Application = nullptr;

TApplication::TApplication(TComponent* owner) : TComponent(owner) { EnsureThreadMessageQueue(); }

void TApplication::PumpMessages() {
  while (std::optional<ThreadMessage> message = TakeThreadMessage()) {
    if (message->number == kQuitMessage) continue;  // must not end the monitor
    // Every other message would go to its window's procedure; this process
    // has no window, so it is removed and that is all.
  }
}

bool TApplication::MessagesPending() const { return ThreadMessagesPending(); }
