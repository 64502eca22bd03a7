// demo-status-server: a status server for demonstrations and tests. It
// listens on 127.0.0.1 only and answers every "GET /" line with one
// status-change record; see --help for the ways it can be made to misbehave.

#include <signal.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "demo_server/demo_options.h"
#include "demo_server/demo_server.h"
#include "demo_server/stop_flag.h"

namespace {

std::atomic<StopFlag*> g_stop{nullptr};

extern "C" void OnStopSignal(int) {
  if (StopFlag* stop = g_stop.load()) stop->Raise();
}

// SIGINT and SIGTERM end the server in order: threads joined, sockets closed.
// The handlers point at the flag only while it lives.
class StopOnSignals final {
 public:
  explicit StopOnSignals(StopFlag& stop) {
    g_stop = &stop;
    Install(OnStopSignal);
  }
  ~StopOnSignals() {
    Install(SIG_DFL);
    g_stop = nullptr;
  }
  StopOnSignals(const StopOnSignals&) = delete;
  StopOnSignals& operator=(const StopOnSignals&) = delete;

 private:
  static void Install(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const std::string program = "demo-status-server";
  ParsedDemoOptions parsed = ParseDemoOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (!parsed.error.empty()) {
    std::cerr << program << ": " << parsed.error << "\n" << DemoUsage(program);
    return 2;
  }
  if (parsed.help) {
    std::cout << DemoUsage(program);
    return 0;
  }
  DemoOptions& options = parsed.options;
  if (!options.seed_given) options.seed = std::random_device{}();

  // A peer that hangs up while we write must not kill us.
  signal(SIGPIPE, SIG_IGN);
  try {
    StopFlag stop;
    StopOnSignals signals(stop);
    DemoServer server(options, stop, &std::cerr);
    std::cout << program << ": listening on 127.0.0.1:" << server.Port() << std::endl;
    server.Run();
  } catch (const std::exception& error) {
    std::cerr << program << ": " << error.what() << std::endl;
    return 1;
  }
  return 0;
}
