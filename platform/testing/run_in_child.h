#pragma once

// Test support: runs a function in a child process with its standard output
// and standard error captured, and reports how the child ended. For tests of
// code that ends the process or dies of a fault. On POSIX systems the child
// is forked (run_in_child_posix.cpp); Windows has no fork, so there the
// child is this test executable started again for the running test alone
// (run_in_child_win32.cpp, over self_child_win32.h).

#include <functional>
#include <string>

struct ChildOutcome {
  /// POSIX: the status as waitpid() gives it; Windows: the exit code.
  int status = 0;
  /// False when the child could not be started or did not end in time.
  bool finished = false;
  std::string out;
  std::string err;

  bool Exited(int code) const;
  /// Always false on Windows, where a process ends with an exit code only.
  bool KilledBy(int signal_number) const;
};

/// Runs `body` in a child process; the child ends with exit code 0 should
/// `body` return.
///
/// On Windows the child is the running test in this executable, started
/// again: it runs as the parent does up to the same call of this function
/// (its earlier calls return an empty outcome at once), runs `body` there and
/// writes nothing of the test framework's own (quiet_child_main.cpp), so its
/// output holds what `body` writes and nothing else.
ChildOutcome RunInChild(const std::function<void()>& body);
