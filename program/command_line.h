#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "monitor/monitor_state.h"

/// What the program's arguments ask for. The only argument is the status
/// server, `HOST[:PORT]`, which overrides the built-in one for this run; with
/// none the program runs exactly as built. Options: --help, --version; "--"
/// ends the options.
struct CommandLine {
  enum class Action { kRun, kHelp, kVersion, kBadArguments };

  Action action = Action::kRun;
  /// kRun: the settings to run with, the built-in ones with the server of the
  /// argument, if any.
  MonitorSettings settings;
  /// kBadArguments: what is wrong, as one line without its end.
  std::string problem;
};

/// Reads `arguments` (without the program's name). Never fails: a bad
/// argument yields kBadArguments with the first problem found. Every argument
/// is checked before --help or --version is honoured, so that a mistyped
/// command line is reported whatever else it holds.
CommandLine ReadCommandLine(const std::vector<std::string_view>& arguments,
                            const MonitorSettings& built_in);

/// The text of --help, ending in a line end (LF).
std::string HelpText(const MonitorSettings& built_in);

/// The text of --version, ending in a line end (LF).
std::string VersionText();

/// What a bad command line prints on standard error: the problem and how to
/// use the program, each line ending in LF. For the journal's stream
/// (`for_journal`) each line starts with the error level "<3>": without it
/// the journal would file the message as information, and a look at the
/// failures (journalctl -p err) would miss it.
std::string BadArgumentsText(const std::string& problem, bool for_journal = false);

/// The exit code after bad arguments, as GNU programs use it.
inline constexpr int kBadArgumentsExitCode = 2;
