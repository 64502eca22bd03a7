#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "runtime/runtime_errors.h"

namespace {

// The sinks are process-wide objects over descriptors 1 and 2, so each case
// runs in a child process whose descriptor is replaced first. `target` -1
// closes it. Returns the child's exit code, or -signal when a signal ended it.
int RunWithStream(int stream_fd, int target, const std::function<int()>& body) {
  pid_t child = fork();
  if (child == 0) {
    if (target < 0) {
      close(stream_fd);
    } else {
      dup2(target, stream_fd);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFSIGNALED(status)) return -WTERMSIG(status);
  return WEXITSTATUS(status);
}

// Opens the sink and writes `text`; the exit code says what happened:
// 100 + open error, 200 + write error, else 1 for a character device, 0 not.
int OpenAndWrite(StandardStream stream, const std::string& text) {
  ConsoleSink& sink = StandardStreamSink(stream);
  if (int error = sink.Open()) return 100 + error;
  if (int error = sink.Write(text.data(), text.size())) return 200 + error;
  return sink.IsCharacterDevice() ? 1 : 0;
}

std::string ReadAvailable(int fd) {
  std::string text;
  char buffer[256];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, n);
  return text;
}

TEST(ConsoleSinkTest, TerminalIsACharacterDevice) {
  int master = -1, slave = -1;
  ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
  EXPECT_EQ(1, RunWithStream(STDOUT_FILENO, slave,
                             [] { return OpenAndWrite(StandardStream::kOutput, "abc"); }));
  close(slave);
  fcntl(master, F_SETFL, O_NONBLOCK);
  EXPECT_EQ("abc", ReadAvailable(master));
  close(master);
}

// "device:inode" of an open descriptor, as the service manager writes it.
std::string DeviceAndInode(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) return "fstat failed";
  return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

TEST(ConsoleSinkTest, ReaderIsTheTerminalTheJournalOrPlain) {
  int master = -1, terminal = -1;
  ASSERT_EQ(0, openpty(&master, &terminal, nullptr, nullptr, nullptr));
  int journal[2], other[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, journal));
  ASSERT_EQ(0, pipe(other));
  int null = open("/dev/null", O_WRONLY);
  ASSERT_GE(null, 0);
  const std::string stream = DeviceAndInode(journal[1]);
  const std::string device = stream.substr(0, stream.find(':'));
  struct Case {
    const char* what;
    int target;
    std::string journal_stream;  // empty: unset
    StreamReader reader;
  } cases[] = {
      {"terminal", terminal, "", StreamReader::kTerminal},
      {"terminal, variable naming another file", terminal, DeviceAndInode(other[1]),
       StreamReader::kTerminal},
      {"/dev/null: a character device, no terminal", null, "", StreamReader::kPlain},
      {"pipe", other[1], "", StreamReader::kPlain},
      {"journal stream named", journal[1], stream, StreamReader::kJournal},
      {"stream not named", journal[1], "", StreamReader::kPlain},
      {"variable naming another file (inherited, output redirected)", journal[1],
       DeviceAndInode(other[1]), StreamReader::kPlain},
      {"inode missing", journal[1], device + ":", StreamReader::kPlain},
      {"no colon", journal[1], device, StreamReader::kPlain},
      {"trailing text", journal[1], stream + "x", StreamReader::kPlain},
      {"sign", journal[1], "+" + stream, StreamReader::kPlain},
      {"too large", journal[1], device + ":99999999999999999999999", StreamReader::kPlain},
  };
  for (const Case& c : cases) {
    const int reader = RunWithStream(STDOUT_FILENO, c.target, [&] {
      if (c.journal_stream.empty()) {
        unsetenv("JOURNAL_STREAM");
      } else {
        setenv("JOURNAL_STREAM", c.journal_stream.c_str(), 1);
      }
      ConsoleSink& sink = StandardStreamSink(StandardStream::kOutput);
      if (sink.Open() != 0) return 99;
      return static_cast<int>(sink.Reader());
    });
    EXPECT_EQ(static_cast<int>(c.reader), reader) << c.what;
  }
  for (int fd : {master, terminal, journal[0], journal[1], other[0], other[1], null}) close(fd);
}

TEST(ConsoleSinkTest, PipeIsNotACharacterDeviceAndGetsEveryByte) {
  for (StandardStream stream : {StandardStream::kOutput, StandardStream::kError}) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    std::string text(5000, 'x');
    text += "\r\nend";
    int stream_fd = stream == StandardStream::kOutput ? STDOUT_FILENO : STDERR_FILENO;
    EXPECT_EQ(0, RunWithStream(stream_fd, fds[1], [&] { return OpenAndWrite(stream, text); }));
    close(fds[1]);
    EXPECT_EQ(text, ReadAvailable(fds[0]));
    close(fds[0]);
  }
}

TEST(ConsoleSinkTest, NoStandardOutputFailsToOpenWith105) {
  EXPECT_EQ(100 + 105, RunWithStream(STDOUT_FILENO, -1,
                                     [] { return OpenAndWrite(StandardStream::kOutput, "x"); }));
}

// A process started without standard output may get descriptor 1 back from
// its next open(); the log must not go into that file.
TEST(ConsoleSinkTest, OutputMissingAtStartStaysMissingWhenTheNumberIsReused) {
  std::string file = ::testing::TempDir() + "console_probe_" + std::to_string(getpid());
  pid_t child = fork();
  if (child == 0) {
    close(STDOUT_FILENO);
    execl(CONSOLE_PROBE_PATH, CONSOLE_PROBE_PATH, file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(105, WEXITSTATUS(status));
  std::ifstream written(file);
  std::stringstream content;
  content << written.rdbuf();
  EXPECT_EQ("", content.str());
  std::remove(file.c_str());
}

TEST(ConsoleSinkTest, ClosedPipeIsAnOrdinaryFailureNotASignal) {
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  close(fds[0]);
  EXPECT_EQ(200 + EPIPE, RunWithStream(STDOUT_FILENO, fds[1], [] {
              return OpenAndWrite(StandardStream::kOutput, "lost");
            }));
  close(fds[1]);
}

TEST(ConsoleSinkTest, FullDeviceCarriesTheSystemErrorNumber) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_EQ(200 + ENOSPC, RunWithStream(STDOUT_FILENO, full,
                                        [] { return OpenAndWrite(StandardStream::kOutput, "x"); }));
  close(full);
}

TEST(ConsoleSinkTest, ErrorNumbersAndTheTextsTheyShow) {
  // A fixed text only for an error that means it; every other errno shows
  // its own number, also where that number has a fixed text (EIO is 5).
  struct Case {
    int system_error;
    const char* message;
  } cases[] = {
      {ENOENT, "File not found"},     {EMFILE, "Too many open files"},
      {EACCES, "File access denied"}, {EPERM, "File access denied"},
      {EBADF, "I/O error 105"},       {EPIPE, "I/O error 32"},
      {ENOSPC, "I/O error 28"},       {EIO, "I/O error 5"},
      {EINTR, "I/O error 4"},         {ESRCH, "I/O error 3"},
      {ENETDOWN, "I/O error 100"},    {ENETUNREACH, "I/O error 101"},
      {EISCONN, "I/O error 106"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EInOutError(IoErrorNumberFromSystemError(c.system_error)).Message(), c.message)
        << c.system_error;
  }
  EXPECT_EQ(IoErrorNumberFromSystemError(EPIPE), EPIPE) << "unmarked where nothing collides";
}

}  // namespace
