#pragma once

// Test support for Windows test executables: a process that ends while one
// of its threads is still starting can crash under Wine's 32-bit loader
// (the ending process signals the thread before the thread has set up the
// state its signal handler reads; the test had passed, the process dies of
// SIGSEGV). GoogleTest starts such a thread itself: the first SCOPED_TRACE
// or thread-local value of a thread starts a watcher thread for it, often a
// moment before a short test executable ends.

/// Waits until every other thread of the process has finished starting (its
/// start-up has run the executable's thread-attach notification), or until
/// `limit_ms` have passed. Threads that started long ago cost nothing.
void WaitForThreadsStillStarting(unsigned limit_ms = 10000);
