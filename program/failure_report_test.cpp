#include "program/failure_report.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "monitor/testing/fake_console_sink.h"
#include "monitor/text_output.h"
#include "runtime/runtime_errors.h"

namespace {

[[gnu::noinline]] void FunctionInThisExecutable() { asm volatile(""); }

std::string ThisExecutable() { return std::string(ModuleBaseName(ExecutableFileName())); }

// The report as a string, for comparisons.
std::string ReportOf(const FailureDescription& failure, CodeAddress code_address) {
  return std::string(FormatFailureReport(failure, code_address).View());
}

// The report's first line for a failure taken at `address` in `module` at
// `offset`; the second line and the empty line follow.
std::string Report(std::string_view class_name, std::string_view module, std::string_view offset,
                   std::string_view second_line) {
  std::string report = "Exception ";
  for (std::string_view part :
       {class_name, std::string_view(" in module "), module, std::string_view(" at "), offset,
        std::string_view(".\r\n"), second_line, std::string_view("\r\n")}) {
    report += part;
  }
  return report;
}

TEST(FormatFailureReportTest, MessageAndItsTerminator) {
  auto address = reinterpret_cast<CodeAddress>(&FunctionInThisExecutable);
  CodeModule module;
  ASSERT_TRUE(FindCodeModule(address, &module));
  std::string offset = FormatAddress(address - module.base);
  ASSERT_EQ(offset.size(), 8u);

  struct Case {
    FailureDescription failure;
    std::string second_line;
  } cases[] = {
      {{"EIdSocketError", "Socket Error # 10061\r\nConnection refused"},
       "Socket Error # 10061\r\nConnection refused."},
      {{"EIdConnClosedGracefully", "Connection Closed Gracefully."},
       "Connection Closed Gracefully."},
      {{"Exception", "Can't get the Windows version"}, "Can't get the Windows version."},
      {{"std::runtime_error", ""}, ""},
      {{"EInOutError", "I/O error 105"}, "I/O error 105."},
      {{"Exception", "."}, "."},
      {{"Exception", "ends in a line break\r\n"}, "ends in a line break\r\n."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReportOf(c.failure, address),
              Report(c.failure.class_name, ThisExecutable(), offset, c.second_line))
        << c.failure.message;
  }
}

TEST(FormatFailureReportTest, ModuleAndAddressShown) {
  // A function of a system library: the module is the library, the address
  // the offset into it. (On Windows the C library's functions are reached
  // through a jump stub inside the executable, so take one from kernel32.)
#if defined(_WIN32)
  auto in_library = reinterpret_cast<CodeAddress>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount"));
#else
  auto in_library = reinterpret_cast<CodeAddress>(&std::fclose);
#endif
  CodeModule library;
  ASSERT_TRUE(FindCodeModule(in_library, &library));
  EXPECT_EQ(ReportOf({"E", "m"}, in_library),
            Report("E", ModuleBaseName(library.file_name), FormatAddress(in_library - library.base),
                   "m."));
  EXPECT_NE(ModuleBaseName(library.file_name), ThisExecutable());

  // An address in no module: the executable's name, 4096 below the address.
  auto heap = std::make_unique<char[]>(16);
  auto nowhere = reinterpret_cast<CodeAddress>(heap.get());
  EXPECT_EQ(ReportOf({"E", "m"}, nowhere),
            Report("E", ThisExecutable(), FormatAddress(nowhere - 4096), "m."));

  struct Case {
    CodeAddress address;
    const char* shown;
  } low_cases[] = {
      {0, "00000000"}, {0x800, "00000800"}, {0x1000, "00000000"}, {0x5123, "00004123"}};
  for (const Case& c : low_cases) {
    EXPECT_EQ(ReportOf({"E", ""}, c.address), Report("E", ThisExecutable(), c.shown, ""))
        << c.address;
  }
}

TEST(FormatFailureReportTest, AnOverlongReportIsCutTo1023Characters) {
  std::string message(2000, 'x');
  std::string report = ReportOf({"EOutOfMemory", message}, 0);
  ASSERT_EQ(report.size(), 1023u);
  std::string head = Report("EOutOfMemory", ThisExecutable(), "00000000", "");
  head.resize(head.size() - 2);  // up to where the message begins
  EXPECT_EQ(report.substr(0, head.size()), head);
  EXPECT_EQ(report.substr(head.size()), std::string(1023 - head.size(), 'x'));

  // Just short enough: nothing is cut.
  std::string fitting(1023 - head.size() - 3, 'y');
  EXPECT_EQ(ReportOf({"EOutOfMemory", fitting}, 0), head + fitting + ".\r\n");
}

struct ForeignFailure {};

// What a description shows, copied while the raised object still lives: the
// description's texts are views into it.
struct Described {
  std::string class_name;
  std::string message;
  CodeAddress raise_address = 0;
};

template <typename Raise>
Described DescribeRaised(Raise raise) {
  try {
    raise();
  } catch (...) {
    FailureDescription failure = DescribeCurrentFailure();
    return {std::string(failure.class_name), std::string(failure.message), failure.raise_address};
  }
  return {"nothing raised", "", 0};
}

TEST(DescribeCurrentFailureTest, ClassNameAndMessageOfWhatWasRaised) {
  struct Case {
    Described got;
    const char* class_name;
    const char* message;
  } cases[] = {
      {DescribeRaised([] { throw EOutOfMemory(); }), "EOutOfMemory", "Out of memory"},
      {DescribeRaised([] { throw Exception("plain"); }), "Exception", "plain"},
      // Raised as a derived class, the name is the most derived one.
      {DescribeRaised([] { throw EDivByZero(); }), "EDivByZero", "Division by zero"},
      // Objects not derived from Exception: their C++ type, no message.
      {DescribeRaised([] { throw std::runtime_error("not shown"); }), "std::runtime_error", ""},
      {DescribeRaised([] { throw 42; }), "int", ""},
      {DescribeRaised([] { throw ForeignFailure(); }), "(anonymous namespace)::ForeignFailure", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.got.class_name, c.class_name);
    EXPECT_EQ(c.got.message, c.message) << c.class_name;
  }
  // Where it was raised, for an error object; nothing for a foreign one.
  EXPECT_NE(cases[0].got.raise_address, 0u);
  EXPECT_NE(cases[0].got.raise_address, cases[1].got.raise_address);
  EXPECT_EQ(cases[3].got.raise_address, 0u);
}

// Both streams record into one history, so the order across them shows.
struct Streams {
  std::string history;
  FakeConsoleSink out{false};  // a file: the log waits in its buffer
  FakeConsoleSink err{false};
  TextOutput log{out};

  Streams() {
    out.fail_write = [this](std::string_view block) { return Record("out", block, out_error); };
    err.fail_write = [this](std::string_view block) { return Record("err", block, err_error); };
  }
  int Record(const char* stream, std::string_view block, int error) {
    history += std::string(stream) + (error ? "!" : "") + "[" + std::string(block) + "]";
    return error;
  }
  int out_error = 0;
  int err_error = 0;
};

TEST(WriteFailureReportTest, TheLogsBufferComesFirstThenTheReportAndAnEmptyLine) {
  Streams s;
  s.log.WriteLine("last log line");
  ASSERT_EQ(s.history, "") << "held in the buffer until now";
  WriteFailureReport(s.log, s.err, {"EIdWS2StubError", "gone"}, 0);
  std::string report = ReportOf({"EIdWS2StubError", "gone"}, 0);
  EXPECT_EQ(s.history, "out[last log line\r\n]err[" + report + "]err[\r\n]");
  EXPECT_EQ(s.log.Pending(), 0u);
}

// Under the service manager both streams may be the journal's: an echoed
// line left open is ended first, and each line of the report is an error
// line of its own, without the empty line.
TEST(WriteFailureReportTest, InTheJournalEveryLineOfTheReportIsAnErrorLine) {
  std::string history;
  FakeConsoleSink journal(false, StreamReader::kJournal);
  journal.fail_write = [&](std::string_view block) {
    history += block;
    return 0;
  };
  TextOutput log(journal);
  std::size_t done = 0;
  log.WriteBytewise("<StatusChange><Ev", &done, LineLevel::kDebug);
  WriteFailureReport(log, journal, {"EOutOfMemory", "Out of memory"}, 0);
  const std::string report = ReportOf({"EOutOfMemory", "Out of memory"}, 0);
  const std::string first_line = report.substr(0, report.find("\r\n"));
  EXPECT_EQ(history, "<7><StatusChange><Ev\n<3>" + first_line + "\n<3>Out of memory.\n");
}

TEST(WriteFailureReportTest, WriteFailuresAreIgnored) {
  {
    Streams s;  // the log's write fails: the report is still written
    s.out_error = 28;
    s.log.Write("pending");
    WriteFailureReport(s.log, s.err, {"E", "m"}, 0);
    EXPECT_EQ(s.history, "out![pending]err[" + ReportOf({"E", "m"}, 0) + "]err[\r\n]");
  }
  {
    Streams s;  // standard error fails: nothing escapes
    s.err_error = 32;
    EXPECT_NO_THROW(WriteFailureReport(s.log, s.err, {"E", "m"}, 0));
    EXPECT_EQ(s.history, "err![" + ReportOf({"E", "m"}, 0) + "]err![\r\n]");
  }
  {
    Streams s;  // no standard error at all
    s.err.open_error = 105;
    EXPECT_NO_THROW(WriteFailureReport(s.log, s.err, {"E", "m"}, 0));
    EXPECT_EQ(s.history, "");
  }
}

}  // namespace
