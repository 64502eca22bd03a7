#pragma once

#include <cstdint>
#include <string>
#include <vector>

/// The port the demo server listens on unless told otherwise: above 1023, so
/// that neither the server nor the demo monitor needs to run as root.
inline constexpr std::uint16_t kDemoPort = 8080;

/// How the demo status server behaves. Zero in a count or limit means "never"
/// or "no limit".
struct DemoOptions {
  std::uint16_t port = kDemoPort;  // 0: any free port (printed at start)
  int interval_ms = 1000;          // least time between two records on a connection
  int close_after = 0;             // close the connection after this many records
  int reset_after = 0;             // reset (RST) the connection after this many records
  int split = 0;                   // write each answer in pieces of this many bytes
  int split_delay_ms = 50;         // pause between two pieces
  bool nul = false;                // put NUL bytes into records and their terminator
  bool garbage = false;            // put non-record noise before each record
  int max_connections = 0;         // stop accepting after this many; exit when all ended
  int exit_after_ms = 0;           // exit after this much time
  std::uint32_t seed = 0;          // records are the same for the same seed
  bool seed_given = false;         // otherwise the seed comes from the clock
  bool quiet = false;              // no per-connection log on standard error
};

/// The outcome of reading the command line: options, a request for help, or
/// an error text that names the offending argument.
struct ParsedDemoOptions {
  DemoOptions options;
  bool help = false;
  std::string error;
};

/// Reads the arguments after the program name.
ParsedDemoOptions ParseDemoOptions(const std::vector<std::string>& arguments);

/// The text printed for --help.
std::string DemoUsage(const std::string& program_name);
