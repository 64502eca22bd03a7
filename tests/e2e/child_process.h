#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"

namespace e2e {

using Clock = std::chrono::steady_clock;

/// Where a child's standard output goes.
enum class StdoutTo {
  kTerminal,    // a pseudo-terminal in raw mode, so line ends arrive unchanged
  kFile,        // a temporary file, read back while the child runs
  kDevFull,     // /dev/full: a character device on which every write fails
  kClosedPipe,  // a pipe whose reading end is closed before the child starts
  kJournal,     // a socket named in JOURNAL_STREAM, as the journal's stream is;
                // a packet socket, so that each of the child's writes is read
                // back as one piece (Writes())
};

/// A program under test, run the way a user would run it: standard input
/// from /dev/null, standard output on a terminal or a file, standard error
/// to a file, signal dispositions at their defaults. The output is collected
/// while the child runs; on a terminal each read is stamped with its arrival
/// time. The destructor kills a child that still runs, reaps it and removes
/// the temporary files.
class ChildProcess final {
 public:
  /// Starts `argv` (argv[0] is the path) with this process's environment,
  /// amended by `environment` ("NAME=value" entries replace variables of the
  /// same name; with kJournal, JOURNAL_STREAM is set to the socket's
  /// "device:inode"). Throws std::runtime_error when the child can't be
  /// started.
  ChildProcess(const std::vector<std::string>& argv, StdoutTo stdout_to,
               const std::vector<std::string>& environment = {"LC_ALL=C"});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  /// Collects output until `condition(Output())` holds (true), or the child
  /// has exited or `timeout` has passed without it (false).
  bool WaitFor(const std::function<bool(const std::string&)>& condition,
               std::chrono::milliseconds timeout);

  /// True while the child runs (notes its end without waiting for it).
  bool Running();

  /// Collects output until the child exits; false when it still runs after
  /// `timeout`.
  bool WaitForExit(std::chrono::milliseconds timeout);

  /// Sends `signal` (if the child still runs), waits for its end and
  /// collects what is left of its output.
  void Stop(int signal);

  /// Standard output so far.
  const std::string& Output() const { return output_; }
  /// Standard error so far (read from its file).
  std::string ErrorOutput() const;

  /// When the output byte at `offset` arrived (terminal only).
  Clock::time_point ArrivalOf(size_t offset) const;
  /// How many reads delivered the output bytes in [from, to) (terminal only).
  int ReadsBetween(size_t from, size_t to) const;
  /// One write of the child's.
  struct Write {
    std::string bytes;
    Clock::time_point arrival;
  };
  /// Each write of the child's, in order (journal only).
  const std::vector<Write>& Writes() const { return writes_; }
  /// Every size the output file was seen to have, in order (file only).
  const std::vector<size_t>& FileSizesSeen() const { return file_sizes_seen_; }
  Clock::time_point StartTime() const { return started_; }

  /// The child's process id (for looking at it in /proc).
  pid_t Pid() const { return pid_; }
  bool Exited() const { return exited_; }
  /// The exit code; -1 when the child did not exit normally.
  int ExitCode() const;
  /// The signal that ended the child; 0 when it exited normally.
  int TermSignal() const;

 private:
  struct Arrival {
    size_t end;  // output size after the read
    Clock::time_point time;
  };

  // Reads what has arrived, waiting at most `wait`; notes the child's exit.
  void Collect(std::chrono::milliseconds wait);
  void ReapIfExited(bool block);
  void DrainTerminal();
  // Reads every write that has arrived (journal only); false at the end.
  bool ReadWrites();

  StdoutTo stdout_to_;
  UniqueFd terminal_;     // master side of the pseudo-terminal
  UniqueFd journal_;      // our end of the journal's socket
  UniqueFd output_file_;  // read side of the output file
  std::string output_path_;
  std::string error_path_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
  Clock::time_point started_;
  std::string output_;
  std::vector<Arrival> arrivals_;
  std::vector<size_t> file_sizes_seen_;
  std::vector<Write> writes_;
};

}  // namespace e2e
