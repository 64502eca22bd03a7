// The monitor's receive loop takes runs of buffered bytes in one step; these
// tests hold it to the plain byte-by-byte loop (testing/byte_by_byte_monitor.h),
// which writes its log through a writer of its own (testing/reference_log.h),
// over the in-memory peer: the same blocks written to the log, one by one,
// the same requests and receives before each, the same calls of the socket
// stack, the same pauses and the same error leaving the monitor, in every
// chunking of the stream, with the log in a file, on a console, on a
// terminal and in the journal, and with each write of the log failing in
// turn.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/testing/receive_path_comparison.h"

namespace {

using namespace std::string_literals;

const std::string kRecord =
    "<StatusChange><LogRec.SyslogID>41</LogRec.SyslogID><Event>up</Event>"
    "<DateTime>2024-03-05</DateTime><Host>h1</Host></StatusChange>";

// An echoed line longer than the journal's line bound (4096 bytes with its
// "<7>" and LF, so 4092 of text per piece): a UTF-8 character that would
// straddle the first cut, a control byte's caret notation that would
// straddle the second, then a server's level prefix.
std::string LongEchoLine() {
  return std::string(4090, 'a') + "\xE2\x82\xAC" + std::string(4088, 'b') + "\x1b" +
         "<3>injected\r\n" + kRecord;
}

// A report line longer than the bound ("<6>EVENT: " and the value): a piece
// of exactly the bound ended by the value's own CR LF, then a piece one byte
// too long, whose last byte goes on after a cut with a lone CR.
std::string LongReportValue() {
  return "<StatusChange><Event>" + std::string(4085, 'v') + "\r\n" + std::string(4093, 'w') +
         "\ry</Event><Host>h1</Host></StatusChange>";
}

struct StreamCase {
  const char* name;
  std::string stream;
  std::size_t limit = 4096;
  int end_code = 0;
  std::int32_t dead_path_timeout_s = 0;
  /// Made for the journal's line bound: thousands of bytes in one line.
  bool journal_bound = false;
};

void PrintTo(const StreamCase& test, std::ostream* out) { *out << test.name; }

// Receives of all that is asked for, of one byte, of a few, of many.
const std::size_t kChunkSizes[] = {0, 1, 7, 100};

// Which writes of the log are made to fail: every one, except under Wine,
// where each run (a connect thread included) costs some fifty times more;
// there every fifth, which still puts failures inside runs in every case.
// Windows knows no terminal or journal reader (every stream is plain), so
// there the log goes only where it can go.
#ifdef _WIN32
constexpr std::size_t kFailingWriteStep = 5;
constexpr LogKind kLogKinds[] = {LogKind::kFile, LogKind::kConsole};
#else
constexpr std::size_t kFailingWriteStep = 1;
constexpr const auto& kLogKinds = kEveryLogKind;
#endif

// The cases made for the journal's line bound are lines of thousands of
// bytes, echoed a write per byte on a console: runs of theirs with more
// writes than this fail the first of them, each line end with the writes on
// either side, and an even spread of the rest, instead of every one, so that
// each case stays within seconds. Every other case fails each write.
constexpr std::size_t kMostFailingWrites = 96;

PeerScript Chunked(const std::string& stream, std::size_t chunk, int end_code) {
  // Two connections: a pass that fails in its handler closes the connection,
  // and the kept text must meet the rest of the stream on the next one.
  return StreamScript(stream, chunk != 0 ? ChunksOf(chunk) : nullptr, end_code, 2);
}

// The writes to fail (counted from 1; 0 for none), given the writes of the
// run without a failure.
std::vector<std::size_t> FailingWrites(const std::vector<LoopRecord::Write>& writes, bool spread) {
  std::vector<std::size_t> failing;
  const std::size_t count = writes.size();
  const bool sparse = spread && count > kMostFailingWrites;
  const std::size_t step =
      !sparse ? kFailingWriteStep : std::max(kFailingWriteStep, count / (kMostFailingWrites / 2));
  const auto ends_line = [&](std::size_t number) {
    return number >= 1 && number <= count && writes[number - 1].block.ends_with('\n');
  };
  for (std::size_t write = 0; write <= count; ++write) {
    const bool first = write <= kMostFailingWrites / 4;
    const bool near_line_end = ends_line(write - 1) || ends_line(write) || ends_line(write + 1);
    if (write % step == 0 || (sparse && (first || near_line_end))) {
      failing.push_back(write);
    }
  }
  return failing;
}

// Compares the two loops for one stream in every chunking and log kind,
// first without a failure and then with each write of the log failing.
void ExpectSameAsByteByByte(const StreamCase& test) {
  for (std::size_t chunk : kChunkSizes) {
    for (LogKind log : kLogKinds) {
      ComparisonCase run;
      run.script = Chunked(test.stream, chunk, test.end_code);
      run.settings.received_text_limit = test.limit;
      run.settings.dead_path_timeout_s = test.dead_path_timeout_s;
      run.log = log;
      const LoopRecord unfailed = RecordRun(run, MonitorLoop::kByteByByte);
      for (std::size_t failing : FailingWrites(unfailed.writes, test.journal_bound)) {
        run.failing_write = failing;
        const LoopRecord reference = RecordRun(run, MonitorLoop::kByteByByte);
        const LoopRecord fast = RecordRun(run, MonitorLoop::kRunMonitor);
        ASSERT_EQ(FirstDifference(reference, fast), "")
            << test.name << ", receives of " << chunk << " bytes (0: all), " << LogKindName(log)
            << ", failing write " << failing;
      }
    }
  }
}

class RunMonitorMatchesReferenceTest : public testing::TestWithParam<StreamCase> {};

TEST_P(RunMonitorMatchesReferenceTest, DoesWhatTheByteByByteLoopDoes) {
#ifdef _WIN32
  if (GetParam().journal_bound) GTEST_SKIP() << "no stream is the journal's on Windows";
#endif
  ExpectSameAsByteByByte(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, RunMonitorMatchesReferenceTest,
    testing::Values(
        StreamCase{"TwoRecordsAndATail", kRecord + kRecord + "<StatusChange><Event>half"},
        // NUL bytes are dropped from echo and text, also inside the terminator.
        StreamCase{"NulBytes", "\0<a>\0\0x</Status\0Change>\0\0tail\0"s},
        // Terminator-like bytes that fall back inside the marker.
        StreamCase{"NearTerminators", "<</</S</StatusChange</StatusChange>>" + kRecord},
        // Longer than the text may grow: the text takes its memory, growing,
        // in runs, then the limit ends the pass with EOutOfMemory.
        StreamCase{"RecordOverTheLimit", std::string(300, 'x') + kRecord, 256},
        StreamCase{"LongRecordInManyBlocks", std::string(400, 'y') + kRecord},
        StreamCase{"ResetByThePeer", kRecord + "<StatusChange>cut", 4096, 10054},
        // The dead-path setting reaches the socket as its options.
        StreamCase{"DeadPathNoticed", kRecord + kRecord, 4096, 0, 30},
        // Bytes a terminal acts on and the journal takes for binary data,
        // line ends of every kind, and a server line that starts like a level.
        StreamCase{"ControlBytesAndLineEnds", "a\x1b[31mred\x7f\r\nb\rc\n\x01\t<0>x\r" + kRecord +
                                                  "\x1b]0;title\x07\r\n\r\n<3>tail"},
        StreamCase{"EchoOverTheJournalLineBound", LongEchoLine(), 16384, 0, 0, true},
        StreamCase{"ReportValueOverTheJournalLineBound", LongReportValue(), 16384, 0, 0, true}),
    [](const testing::TestParamInfo<StreamCase>& info) { return info.param.name; });

// The fuzz target's seed inputs, read the way the fuzz target reads them;
// one test each, so that each stays within a test's time under Wine.
std::vector<std::string> CorpusFiles() {
  std::vector<std::string> names;
  const std::filesystem::path corpus = RECEIVE_PATH_CORPUS_DIR;
  if (std::filesystem::is_directory(corpus)) {
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
      names.push_back(entry.path().filename().string());
    }
  }
  if (names.empty()) names.emplace_back();  // reported as skipped below
  return names;
}

class RunMonitorMatchesReferenceCorpusTest : public testing::TestWithParam<std::string> {};

TEST_P(RunMonitorMatchesReferenceCorpusTest, SeedInputOfTheFuzzTarget) {
  if (GetParam().empty()) GTEST_SKIP() << "no corpus at " << RECEIVE_PATH_CORPUS_DIR;
  std::ifstream file(std::filesystem::path(RECEIVE_PATH_CORPUS_DIR) / GetParam(), std::ios::binary);
  const std::string input((std::istreambuf_iterator<char>(file)), {});
  ASSERT_GE(input.size(), 3u);
  StreamCase test{"corpus", input.substr(3)};
  test.limit = 16 + 16 * static_cast<std::size_t>(static_cast<std::uint8_t>(input[1])) % 4096;
  test.end_code = (input[2] & 1) != 0 ? 10054 : 0;
  ExpectSameAsByteByByte(test);
}

INSTANTIATE_TEST_SUITE_P(Seeds, RunMonitorMatchesReferenceCorpusTest,
                         testing::ValuesIn(CorpusFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           if (info.param.empty()) return std::string("none");
                           std::string name = info.param;  // test names: letters, digits, _
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace
