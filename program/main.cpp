// The status monitor program: its command line, start-up, the monitor, and
// the top-level handler around them.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "monitor/run_monitor.h"
#include "platform/code_address.h"
#include "platform/console.h"
#include "program/built_in_settings.h"
#include "program/command_line.h"
#include "program/process_end.h"
#include "program/program_modules.h"

namespace {

// Writes `text` to `stream` and flushes it; whether it arrived changes nothing
// about how the program ends.
void Print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
  // Who reads standard error is known first: under the service manager a
  // bad command line (a bad instance name) must reach the journal as an
  // error, not at the journal's default level.
  ConsoleSink& error_stream = StandardStreamSink(StandardStream::kError);
  const bool errors_to_journal =
      error_stream.Open() == 0 && error_stream.Reader() == StreamReader::kJournal;

  // The command line is read before anything starts: a bad one ends the
  // program with nothing on standard output, --help and --version with only
  // their text.
  const MonitorSettings built_in = BuiltInMonitorSettings();
  const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  const CommandLine command_line = ReadCommandLine(arguments, built_in);
  switch (command_line.action) {
    case CommandLine::Action::kBadArguments:
      Print(stderr, BadArgumentsText(command_line.problem, errors_to_journal));
      return kBadArgumentsExitCode;
    case CommandLine::Action::kHelp:
      Print(stdout, HelpText(built_in));
      return 0;
    case CommandLine::Action::kVersion:
      Print(stdout, VersionText());
      return 0;
    case CommandLine::Action::kRun:
      break;
  }

  ConsoleMode = true;

  ProgramModules modules;
  StartupSequence& sequence = modules.Sequence();
  SetProcessStartupSequence(&sequence);

  // The top-level handler of the main thread. A failed start-up step has had
  // the shutdown steps run already, the error machinery's among them, so it
  // ends as runtime error 217; a failure that escapes the monitor is
  // reported and ends with exit code 1. The address shown is where the
  // failure was raised; for a raised object that carries none, where it was
  // taken here.
  try {
    sequence.RunStartup();
    RunMonitor(command_line.settings);
  } catch (...) {
    HandleCurrentFailure(CurrentCodeAddress());
  }
  // The monitor has no exit of its own; should it ever return, end in order.
  EndProcess(0);
}
