#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/console.h"

namespace {

struct ProbeRun {
  DWORD exit_code = 0xFFFFFFFF;
  std::string written;  // what reached the pipe, when one was given
};

// Starts the probe with `output` as its standard output handle (may be null)
// and `text` to write.
DWORD StartProbe(HANDLE output, const std::string& text) {
  std::string command = "\"" CONSOLE_PROBE_PATH "\" " + text;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = output;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 0xFFFFFFFF;
  }
  DWORD code = 0xFFFFFFFF;
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

ProbeRun RunWithPipe(const std::string& text, bool close_reader) {
  ProbeRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE reader = nullptr, writer = nullptr;
  if (!CreatePipe(&reader, &writer, &inherit, 1 << 16)) return run;
  SetHandleInformation(reader, HANDLE_FLAG_INHERIT, 0);
  if (close_reader) {
    CloseHandle(reader);
    reader = nullptr;
  }
  run.exit_code = StartProbe(writer, text);
  CloseHandle(writer);
  if (reader != nullptr) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(reader, buffer, sizeof buffer, &n, nullptr) && n > 0)
      run.written.append(buffer, n);
    CloseHandle(reader);
  }
  return run;
}

TEST(ConsoleSinkTest, PipeIsNotACharacterDeviceAndGetsEveryByte) {
  ProbeRun run = RunWithPipe("every-byte", false);
  EXPECT_EQ(0u, run.exit_code);
  EXPECT_EQ("every-byte", run.written);
}

TEST(ConsoleSinkTest, TheNullDeviceIsACharacterDevice) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE null_device = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(null_device, INVALID_HANDLE_VALUE);
  EXPECT_EQ(1u, StartProbe(null_device, "x"));
  CloseHandle(null_device);
}

TEST(ConsoleSinkTest, NoStandardOutputFailsToOpenWith105) {
  EXPECT_EQ(100u + 105u, StartProbe(nullptr, "x"));
}

TEST(ConsoleSinkTest, ClosedPipeCarriesTheSystemsErrorCode) {
  ProbeRun run = RunWithPipe("lost", true);
  EXPECT_EQ(200u + ERROR_NO_DATA, run.exit_code);
}

TEST(ConsoleSinkTest, ErrorNumbersAreTheSystemsCodes) {
  EXPECT_EQ(105, IoErrorNumberFromSystemError(ERROR_INVALID_HANDLE));
  EXPECT_EQ(static_cast<int>(ERROR_DISK_FULL), IoErrorNumberFromSystemError(ERROR_DISK_FULL));
  EXPECT_EQ(static_cast<int>(ERROR_BROKEN_PIPE), IoErrorNumberFromSystemError(ERROR_BROKEN_PIPE));
}

TEST(ConvertToConsoleCharacterSetTest, PlainTextStaysAndTheLengthNeverChanges) {
  std::string text = "Exception EIdSocketError in module x.exe at 00001234.\r\n";
  std::string copy = text;
  ConvertToConsoleCharacterSet(copy.data(), copy.size());
  EXPECT_EQ(text, copy);
  // A letter outside ASCII becomes the console code page's byte for it.
  std::string accented = "caf\xE9";
  char expected[8];
  CharToOemA(accented.c_str(), expected);
  ConvertToConsoleCharacterSet(accented.data(), accented.size());
  EXPECT_EQ(std::string(expected), accented);
  EXPECT_EQ(4u, accented.size());
}

}  // namespace
