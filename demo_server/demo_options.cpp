#include "demo_server/demo_options.h"

#include <charconv>
#include <limits>
#include <map>

namespace {

// Reads a whole argument as a decimal number within [low, high].
bool ReadNumber(const std::string& text, long long low, long long high, long long* value) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, *value);
  return error == std::errc() && stop == end && !text.empty() && *value >= low && *value <= high;
}

struct NumberOption {
  long long low;
  long long high;
  void (*store)(DemoOptions&, long long);
};

const std::map<std::string, NumberOption>& NumberOptions() {
  constexpr long long kIntMax = std::numeric_limits<int>::max();
  static const std::map<std::string, NumberOption> options = {
      {"--port", {0, 65535, [](DemoOptions& o, long long v) { o.port = std::uint16_t(v); }}},
      {"--interval-ms", {0, kIntMax, [](DemoOptions& o, long long v) { o.interval_ms = int(v); }}},
      {"--close-after", {1, kIntMax, [](DemoOptions& o, long long v) { o.close_after = int(v); }}},
      {"--reset-after", {1, kIntMax, [](DemoOptions& o, long long v) { o.reset_after = int(v); }}},
      {"--split", {1, kIntMax, [](DemoOptions& o, long long v) { o.split = int(v); }}},
      {"--split-delay-ms",
       {0, kIntMax, [](DemoOptions& o, long long v) { o.split_delay_ms = int(v); }}},
      {"--max-connections",
       {1, kIntMax, [](DemoOptions& o, long long v) { o.max_connections = int(v); }}},
      {"--exit-after-ms",
       {1, kIntMax, [](DemoOptions& o, long long v) { o.exit_after_ms = int(v); }}},
      {"--seed",
       {0, std::numeric_limits<std::uint32_t>::max(),
        [](DemoOptions& o, long long v) {
          o.seed = std::uint32_t(v);
          o.seed_given = true;
        }}},
  };
  return options;
}

const std::map<std::string, bool DemoOptions::*>& FlagOptions() {
  static const std::map<std::string, bool DemoOptions::*> flags = {
      {"--nul", &DemoOptions::nul},
      {"--garbage", &DemoOptions::garbage},
      {"--quiet", &DemoOptions::quiet},
  };
  return flags;
}

}  // namespace

ParsedDemoOptions ParseDemoOptions(const std::vector<std::string>& arguments) {
  ParsedDemoOptions parsed;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& name = arguments[i];
    if (name == "--help" || name == "-h") {
      parsed.help = true;
      continue;
    }
    if (auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
      parsed.options.*(flag->second) = true;
      continue;
    }
    auto number = NumberOptions().find(name);
    if (number == NumberOptions().end()) {
      parsed.error = "unknown option: " + name;
      return parsed;
    }
    if (i + 1 == arguments.size()) {
      parsed.error = name + " needs a value";
      return parsed;
    }
    long long value = 0;
    const std::string& text = arguments[++i];
    if (!ReadNumber(text, number->second.low, number->second.high, &value)) {
      parsed.error = name;
      parsed.error += ": not a number from " + std::to_string(number->second.low);
      parsed.error += " to " + std::to_string(number->second.high);
      parsed.error += ": " + text;
      return parsed;
    }
    number->second.store(parsed.options, value);
  }
  return parsed;
}

std::string DemoUsage(const std::string& program_name) {
  return "usage: " + program_name + " [options]\n" +
         "Serves status-change records on 127.0.0.1: one record for every \"GET /\" line.\n"
         "  --port N             listen on this port (default " +
         std::to_string(kDemoPort) +
         "; 0 picks a free one)\n"
         "  --interval-ms N      at least N ms between two records on a connection (1000)\n"
         "  --seed N             make the same records every run\n"
         "  --quiet              no connection log on standard error\n"
         "misbehaviour, for tests and demonstrations:\n"
         "  --close-after N      close the connection after N records\n"
         "  --reset-after N      reset the connection after N records\n"
         "  --split N            write each record in pieces of N bytes\n"
         "  --split-delay-ms N   pause between the pieces (50)\n"
         "  --nul                put NUL bytes into records and their terminator\n"
         "  --garbage            send non-record noise before each record\n"
         "ending by itself:\n"
         "  --max-connections N  accept N connections, exit when they have ended\n"
         "  --exit-after-ms N    exit after N ms\n"
         "SIGINT or SIGTERM ends the server at once.\n";
}
