#include "program/command_line.h"

#include <charconv>
#include <cstddef>
#include <cstdint>

#include "monitor/version.h"

namespace {

constexpr char kProgramName[] = "status-monitor";
constexpr char kUsage[] = "Usage: status-monitor [--help] [--version] [HOST[:PORT]]\n";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// One label of a host name: letters, digits and hyphens, 1 to 63 of them,
// neither first nor last a hyphen.
bool IsHostLabel(std::string_view label) {
  if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
    return false;
  }
  for (char c : label) {
    if (!IsLetterOrDigit(c) && c != '-') return false;
  }
  return true;
}

// A decimal number without leading zeros (so that nobody reads "080" as
// octal) from 1 to `max`.
bool ReadNumber(std::string_view text, std::uint32_t max, std::uint32_t& value) {
  if (text.empty() || text.size() > 10 || text.front() == '0') return false;
  for (char c : text) {
    if (!IsDigit(c)) return false;
  }
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && value <= max;
}

// Dotted labels all of digits are meant as an IPv4 address: four numbers
// 0..255 without leading zeros.
bool IsIPv4Address(std::string_view text) {
  int parts = 0;
  for (std::size_t start = 0;; ++parts) {
    std::size_t dot = text.find('.', start);
    std::string_view part = text.substr(start, dot - start);
    std::uint32_t value = 0;
    bool zero = part == "0";
    if (!zero && !ReadNumber(part, 255, value)) return false;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts + 1 == 4;
}

// The same rule as the build applies to the built-in host
// (cmake/status_monitor_settings.cmake): a host name of dot-separated labels,
// 253 characters at most, an optional final dot; or an IPv4 address.
bool IsValidHost(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  std::string_view bare = host.back() == '.' ? host.substr(0, host.size() - 1) : host;
  if (bare.find_first_not_of("0123456789.") == std::string_view::npos) {
    return IsIPv4Address(bare);
  }
  for (std::size_t start = 0;;) {
    std::size_t dot = bare.find('.', start);
    if (!IsHostLabel(bare.substr(start, dot - start))) return false;
    if (dot == std::string_view::npos) return true;
    start = dot + 1;
  }
}

// Quoted for the problem line; the argument may hold anything.
std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) {
      constexpr char kHex[] = "0123456789abcdef";
      quoted += "\\x";
      quoted += kHex[c >> 4];
      quoted += kHex[c & 0xf];
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "'";
}

// Reads HOST[:PORT] into `settings`; returns the problem, empty when none.
// The port is what follows the last colon, so that an IPv6 address (not
// supported) is reported whole, as the host that it is not.
std::string ReadServer(std::string_view argument, MonitorSettings& settings) {
  std::size_t colon = argument.rfind(':');
  std::string_view host = argument.substr(0, colon);
  if (host.empty()) return "the status server's host is empty in " + Quoted(argument);
  if (!IsValidHost(host)) {
    return "the host " + Quoted(host) +
           " is neither a host name (letters, digits, '-' in labels separated by '.') nor an "
           "IPv4 address";
  }
  std::uint32_t port = static_cast<std::uint32_t>(settings.status_server_port);
  if (colon != std::string_view::npos) {
    std::string_view port_text = argument.substr(colon + 1);
    if (!ReadNumber(port_text, 65535, port)) {
      return "the port " + Quoted(port_text) +
             " is not a TCP port (a whole number from 1 to 65535)";
    }
  }
  settings.status_server_host = std::string(host);
  settings.status_server_port = static_cast<std::int32_t>(port);
  return "";
}

}  // namespace

CommandLine ReadCommandLine(const std::vector<std::string_view>& arguments,
                            const MonitorSettings& built_in) {
  CommandLine result;
  result.settings = built_in;
  bool help = false;
  bool version = false;
  bool options_ended = false;
  std::vector<std::string_view> servers;
  for (std::string_view argument : arguments) {
    if (!options_ended && argument == "--") {
      options_ended = true;
    } else if (!options_ended && argument == "--help") {
      help = true;
    } else if (!options_ended && argument == "--version") {
      version = true;
    } else if (!options_ended && argument.size() > 1 && argument.front() == '-') {
      result.action = CommandLine::Action::kBadArguments;
      result.problem = "unknown option " + Quoted(argument);
      return result;
    } else {
      servers.push_back(argument);
    }
  }
  if (servers.size() > 1) {
    result.action = CommandLine::Action::kBadArguments;
    result.problem = "one status server at most, but " + std::to_string(servers.size()) +
                     " arguments were given";
    return result;
  }
  if (!servers.empty()) {
    result.problem = ReadServer(servers.front(), result.settings);
    if (!result.problem.empty()) {
      result.action = CommandLine::Action::kBadArguments;
      return result;
    }
  }
  if (help) {
    result.action = CommandLine::Action::kHelp;
  } else if (version) {
    result.action = CommandLine::Action::kVersion;
  }
  return result;
}

std::string HelpText(const MonitorSettings& built_in) {
  return std::string(kUsage) +
         "Keeps one TCP connection to a status server, asks it for status-change records,\n"
         "echoes what it sends and prints each complete record as labelled, time-stamped\n"
         "lines on standard output. Reports every failure and reconnects, forever.\n"
         "\n"
         "  HOST       the status server: a host name or an IPv4 address\n"
         "             (built in: " +
         built_in.status_server_host +
         ")\n"
         "  PORT       its TCP port, 1 to 65535 (built in: " +
         std::to_string(built_in.status_server_port) +
         ")\n"
         "  --help     show this help and exit\n"
         "  --version  show the version and exit\n"
         "\n"
         "Exit status: 1 after a failure report on standard error, 217 after a\n"
         "runtime-error line, 2 for bad arguments; otherwise it runs until stopped.\n";
}

std::string VersionText() { return std::string(kProgramName) + " " + kProgramVersion + "\n"; }

std::string BadArgumentsText(const std::string& problem, bool for_journal) {
  // The problem is one line: Quoted shows every control byte, a line feed too.
  const std::string level = for_journal ? "<3>" : "";
  return level + kProgramName + ": " + problem + "\n" + level + kUsage + level +
         "Try 'status-monitor --help' for more information.\n";
}
