#include "monitor/testing/in_process_monitor_run.h"

#include <utility>

InProcessMonitorRun::InProcessMonitorRun(PeerScript script, ConsoleSink& sink,
                                         PauseHandler on_pause)
    : stack_class_(&StackClassOf<ScriptedPeerStack>),
      output_(sink),
      on_pause_(std::move(on_pause)) {
  ScriptedPeerStack::SetScript(std::move(script));
  settings.status_server_host = "localhost";
  services_.output = &output_;
  services_.application = &application_;
  services_.now = [this] { return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7}) + elapsed_days_; };
  services_.pause = [this](std::int32_t milliseconds) {
    elapsed_days_ += milliseconds / 86400000.0;
    on_pause_(milliseconds);
  };
}
