#pragma once

// Test support for Windows, which has no fork(): a test that must run code
// in a process of its own (code that faults or ends the process) starts its
// own executable again, limited to one child test by --gtest_filter, with an
// environment variable naming the case to run, and captures the child's
// standard output and error. The child test skips itself when the variable
// is missing, so in the ordinary run it reports as skipped.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

struct SelfChildOutcome {
  DWORD exit_code = 0;
  std::string out;  // the child's standard output
  std::string err;  // the child's standard error
  bool finished = false;
};

/// The case this process was started to run, or "" in an ordinary run.
inline std::string SelfChildCase() {
  const char* value = std::getenv("SELF_CHILD_CASE");
  return value != nullptr ? value : "";
}

/// Runs the test `test_name` (Suite.Name) of this executable in a child
/// process with SELF_CHILD_CASE=`case_name`; waits at most 60 s.
inline SelfChildOutcome RunSelfChild(const std::string& test_name, const std::string& case_name) {
  SelfChildOutcome outcome;
  char exe[MAX_PATH + 1];
  DWORD length = GetModuleFileNameA(nullptr, exe, MAX_PATH);
  if (length == 0) return outcome;

  char temp_dir[MAX_PATH + 1];
  char out_path[MAX_PATH + 1];
  char err_path[MAX_PATH + 1];
  if (GetTempPathA(MAX_PATH, temp_dir) == 0 ||
      GetTempFileNameA(temp_dir, "sch", 0, out_path) == 0 ||
      GetTempFileNameA(temp_dir, "sch", 0, err_path) == 0) {
    return outcome;
  }
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  auto capture = [&inherit](const char* path) {
    return CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE out_file = capture(out_path);
  HANDLE err_file = capture(err_path);
  HANDLE null_file = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  std::string command = "\"" + std::string(exe, length) + "\" --gtest_filter=" + test_name;
  SetEnvironmentVariableA("SELF_CHILD_CASE", case_name.c_str());
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_file;
  startup.hStdOutput = out_file;
  startup.hStdError = err_file;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &process);
  SetEnvironmentVariableA("SELF_CHILD_CASE", nullptr);
  CloseHandle(out_file);
  CloseHandle(err_file);
  CloseHandle(null_file);
  if (started) {
    outcome.finished = WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
    if (!outcome.finished) TerminateProcess(process.hProcess, 255);
    GetExitCodeProcess(process.hProcess, &outcome.exit_code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  auto collect = [](const char* path, std::string* text) {
    if (FILE* in = std::fopen(path, "rb")) {
      char buffer[4096];
      std::size_t n;
      while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) text->append(buffer, n);
      std::fclose(in);
    }
    DeleteFileA(path);
  };
  collect(out_path, &outcome.out);
  collect(err_path, &outcome.err);
  return outcome;
}
