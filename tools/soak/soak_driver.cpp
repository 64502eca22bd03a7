// soak-driver: runs the real monitor for thousands of connections against the
// demo status server, which misbehaves in rotation, and checks that the
// monitor's open descriptors, threads and resident memory stay put. Driven by
// tools/soak.sh; see there for the usage.
//
// The monitor writes to a raw pseudo-terminal, so every line is seen as soon
// as it is written. Between two phases of the rotation no server listens:
// the monitor's next connect is refused and it pauses for 2000 ms, holding no
// socket and no connect thread. That pause is where it is measured.
//
// The port is one the kernel handed out, held by the driver for the whole
// soak: each phase's server listens on it in turn, and between phases it
// refuses connects without being free for any other socket.

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/e2e/child_process.h"
#include "tests/e2e/held_port.h"

namespace {

using namespace std::chrono_literals;
using e2e::ChildProcess;
using e2e::Clock;
using e2e::StdoutTo;

struct Settings {
  std::string monitor;
  std::string server;
  long cycles = 5000;
  long max_seconds = 1800;
  int round_size = 200;
};

// One phase of the rotation: how the server misbehaves, for how many
// connections. An empty option list is the refusing phase: no server at all.
struct Phase {
  const char* name;
  std::vector<std::string> options;
  int connections;
};

// The rotation, `fast` connections in each of the phases that cost little.
// A close costs the monitor a 1000 ms pause per connection (the read that
// finds the end fails), a refusal 2000 ms; the other phases end in a reset
// right after the record, which mostly fails the repeated request and
// reconnects at once (when the request wins the race, the read fails and
// the monitor pauses 1000 ms). A split record is often cut short: the reset
// discards the server's unsent pieces.
std::vector<Phase> Rotation(int fast) {
  return {
      {"close", {"--close-after", "1"}, std::max(1, fast / 40)},
      {"reset", {"--reset-after", "1"}, fast},
      {"refuse", {}, 0},
      {"split",
       {"--split", "16", "--split-delay-ms", "0", "--reset-after", "1"},
       std::max(2, fast / 6)},
      {"garbage", {"--garbage", "--reset-after", "1"}, fast},
      {"nul", {"--nul", "--reset-after", "1"}, std::max(1, fast / 2)},
  };
}

struct Sample {
  int descriptors = -1;
  int threads = -1;
  long rss_kib = -1;
};

int CountDescriptors(pid_t pid) {
  DIR* directory = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (directory == nullptr) return -1;
  int count = 0;
  while (dirent* entry = ::readdir(directory)) {
    if (entry->d_name[0] != '.') ++count;
  }
  ::closedir(directory);
  return count;
}

Sample Measure(pid_t pid) {
  Sample sample;
  sample.descriptors = CountDescriptors(pid);
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) sample.threads = std::atoi(line.c_str() + 8);
    if (line.rfind("VmRSS:", 0) == 0) sample.rss_kib = std::atol(line.c_str() + 6);
  }
  return sample;
}

size_t Count(const std::string& text, const std::string& piece, size_t from = 0) {
  size_t count = 0;
  for (size_t at = text.find(piece, from); at != std::string::npos;
       at = text.find(piece, at + piece.size())) {
    ++count;
  }
  return count;
}

const std::string kRefusedTail = "(EIdConnectException)\r\n";
const std::string kConnected = " Connected to ";

bool ReadSettings(int argc, char** argv, Settings* settings) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--monitor") {
      settings->monitor = value;
    } else if (name == "--server") {
      settings->server = value;
    } else if (name == "--cycles") {
      settings->cycles = std::atol(value.c_str());
    } else if (name == "--round-size") {
      settings->round_size = std::atoi(value.c_str());
    } else if (name == "--max-seconds") {
      settings->max_seconds = std::atol(value.c_str());
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !settings->monitor.empty() && !settings->server.empty() &&
         settings->cycles > 0 && settings->max_seconds > 0 && settings->round_size > 0;
}

}  // namespace

int Soak(int argc, char** argv) {
  Settings settings;
  if (!ReadSettings(argc, argv, &settings)) {
    std::cerr << "usage: soak-driver --monitor PATH --server PATH [--cycles N]"
                 " [--max-seconds N] [--round-size N]\n";
    return 2;
  }
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(settings.max_seconds);
  auto seconds = [&] { return std::chrono::duration<double>(Clock::now() - start).count(); };

  const e2e::HeldPort port;
  ChildProcess monitor({settings.monitor, "localhost:" + std::to_string(port.Number())},
                       StdoutTo::kTerminal);
  // Waits until the log has grown past `since` and ends in a refused
  // connect: the monitor is then in its 2000 ms pause, with no socket and no
  // connect thread. (A refusal that something else followed, such as one at
  // the start of a phase before the server listened, doesn't count.)
  auto wait_for_refusal = [&](size_t since, std::chrono::milliseconds timeout) {
    return monitor.WaitFor(
        [&](const std::string& out) { return out.size() > since && out.ends_with(kRefusedTail); },
        timeout);
  };

  // The first refusal: the monitor runs and has made its client.
  if (!wait_for_refusal(0, 30s)) {
    std::cerr << "soak: the monitor wrote no refused connect within 30 s\n";
    return 1;
  }
  // Measured at every pause between phases; the first round warms up.
  const std::vector<Phase> rotation = Rotation(settings.round_size);
  std::vector<Sample> samples;
  long cycles = 0;
  int round = 0;
  bool failed = false;
  for (bool done = false; !done && !failed;) {
    ++round;
    for (const Phase& phase : rotation) {
      const size_t since = monitor.Output().size();
      if (phase.connections > 0) {
        std::vector<std::string> argv = {settings.server,
                                         "--port",
                                         std::to_string(port.Number()),
                                         "--quiet",
                                         "--interval-ms",
                                         "0",
                                         "--seed",
                                         std::to_string(round),
                                         "--max-connections",
                                         std::to_string(phase.connections)};
        argv.insert(argv.end(), phase.options.begin(), phase.options.end());
        ChildProcess server(argv, StdoutTo::kFile);
        // The server ends by itself after its connections; the time bound
        // ends it early. Meanwhile the monitor's log is read as it comes, or
        // the monitor would block on a full terminal.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        monitor.WaitFor([&](const std::string&) { return !server.Running(); },
                        std::max(left, std::chrono::milliseconds(1000)));
        if (server.Running()) {
          server.Stop(SIGTERM);
          done = true;
        } else if (server.ExitCode() != 0) {
          std::cerr << "soak: the demo server of phase " << phase.name
                    << " failed: " << server.ErrorOutput() << "\n";
          failed = true;
          break;
        }
      }
      // No server now: the monitor's next connect is refused.
      if (!wait_for_refusal(since, 30s)) {
        std::cerr << "soak: no refused connect after phase " << phase.name << " (the monitor "
                  << (monitor.Exited() ? "has ended" : "hangs") << ")\n";
        failed = true;
        break;
      }
      const std::string& out = monitor.Output();
      cycles = static_cast<long>(Count(out, kConnected) + Count(out, kRefusedTail));
      // From the end of the first round on, every pause is measured.
      const Sample now = Measure(monitor.Pid());
      if (round > 1 || &phase == &rotation.back() || done) samples.push_back(now);
      std::printf(
          "soak: %7.1f s  round %d  after %-7s cycles %6ld  fds %d  threads %d  rss %ld KiB%s\n",
          seconds(), round, phase.name, cycles, now.descriptors, now.threads, now.rss_kib,
          samples.size() == 1 && round == 1 ? "  (start)" : "");
      std::fflush(stdout);
      if (cycles >= settings.cycles || Clock::now() >= deadline) {
        done = true;
        break;
      }
    }
  }
  if (monitor.Exited()) {
    std::cerr << "soak: the monitor ended (exit code " << monitor.ExitCode() << ", signal "
              << monitor.TermSignal() << "): " << monitor.ErrorOutput() << "\n";
    failed = true;
  }
  const std::string& out = monitor.Output();
  std::printf(
      "soak: %ld cycles in %.1f s: %zu connects, %zu refused connects, %zu records reported,\n"
      "      %zu pass errors (request refused by a reset), %zu read errors, %zu disconnect "
      "notices\n",
      cycles, seconds(), Count(out, kConnected), Count(out, kRefusedTail),
      Count(out, "\r\nSYSLOG.ID: "), Count(out, ") LogRec.Trace="),
      Count(out, "(EIdConnClosedGracefully)\r\n") + Count(out, "(EIdSocketError)\r\n"),
      Count(out, " Disconnected\r\n"));
  if (samples.size() < 2) {
    std::cerr << "soak: too short for two measurements after the warm-up round\n";
    failed = true;
  } else {
    const Sample& first = samples.front();
    const Sample& last = samples.back();
    long rss_low = first.rss_kib, rss_high = first.rss_kib;
    for (const Sample& sample : samples) {
      rss_low = std::min(rss_low, sample.rss_kib);
      rss_high = std::max(rss_high, sample.rss_kib);
    }
    std::printf(
        "soak: start  fds %d  threads %d  rss %ld KiB\n"
        "soak: end    fds %d  threads %d  rss %ld KiB  (rss over %zu measurements: %ld..%ld KiB)\n",
        first.descriptors, first.threads, first.rss_kib, last.descriptors, last.threads,
        last.rss_kib, samples.size(), rss_low, rss_high);
    if (first.descriptors != last.descriptors || first.threads != last.threads ||
        last.rss_kib - first.rss_kib > 1024 || first.descriptors < 0 || first.rss_kib < 0) {
      std::cerr << "soak: FAILED: descriptors and threads must stay equal, resident memory "
                   "within 1 MiB\n";
      failed = true;
    }
  }
  if (cycles < settings.cycles) {
    std::printf("soak: stopped by the time bound before %ld cycles\n", settings.cycles);
  }
  std::printf("soak: %s\n", failed ? "FAILED" : "passed");
  return failed ? 1 : 0;
}

int main(int argc, char** argv) {
  try {
    return Soak(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "soak: " << error.what() << "\n";
    return 1;
  }
}
