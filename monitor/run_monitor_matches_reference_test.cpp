// The monitor's receive loop takes runs of buffered bytes in one step; these
// tests hold it to the plain byte-by-byte loop (testing/byte_by_byte_monitor.h)
// over the in-memory peer: the same blocks written to the log, one by one,
// the same requests and receives before each, the same pauses and the same
// error leaving the monitor, in every chunking of the stream, with the log on
// a console and in a file, and with each write of the log failing in turn.

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "monitor/testing/byte_by_byte_monitor.h"
#include "monitor/testing/receive_path_comparison.h"

namespace {

using namespace std::string_literals;

const std::string kRecord =
    "<StatusChange><LogRec.SyslogID>41</LogRec.SyslogID><Event>up</Event>"
    "<DateTime>2024-03-05</DateTime><Host>h1</Host></StatusChange>";

struct StreamCase {
  const char* name;
  std::string stream;
  std::size_t limit = 4096;
  int end_code = 0;
};

// Receives of all that is asked for, of one byte, of a few, of many.
const std::size_t kChunkSizes[] = {0, 1, 7, 100};

// Which writes of the log are made to fail: every one, except under Wine,
// where each run (a connect thread included) costs some fifty times more;
// there every fifth, which still puts failures inside runs in every case.
#ifdef _WIN32
constexpr std::size_t kFailingWriteStep = 5;
#else
constexpr std::size_t kFailingWriteStep = 1;
#endif

PeerScript Chunked(const std::string& stream, std::size_t chunk, int end_code) {
  // Two connections: a pass that fails in its handler closes the connection,
  // and the kept text must meet the rest of the stream on the next one.
  return StreamScript(stream, chunk != 0 ? ChunksOf(chunk) : nullptr, end_code, 2);
}

// Compares the two loops for one stream in every chunking and log kind,
// first without a failure and then with each write of the log failing.
void ExpectSameAsByteByByte(const StreamCase& test) {
  for (std::size_t chunk : kChunkSizes) {
    for (bool console : {false, true}) {
      ComparisonCase run;
      run.script = Chunked(test.stream, chunk, test.end_code);
      run.received_text_limit = test.limit;
      run.console = console;
      const std::size_t writes = RecordRun(run, &RunByteByByteMonitor).writes.size();
      for (std::size_t failing = 0; failing <= writes; failing += kFailingWriteStep) {
        run.failing_write = failing;
        const LoopRecord reference = RecordRun(run, &RunByteByByteMonitor);
        const LoopRecord fast = RecordRun(run, nullptr);
        ASSERT_EQ(FirstDifference(reference, fast), "")
            << test.name << ", receives of " << chunk << " bytes (0: all), "
            << (console ? "console" : "file") << ", failing write " << failing;
      }
    }
  }
}

class RunMonitorMatchesReferenceTest : public testing::TestWithParam<StreamCase> {};

TEST_P(RunMonitorMatchesReferenceTest, DoesWhatTheByteByByteLoopDoes) {
  ExpectSameAsByteByByte(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, RunMonitorMatchesReferenceTest,
    testing::Values(StreamCase{"TwoRecordsAndATail",
                               kRecord + kRecord + "<StatusChange><Event>half"},
                    // NUL bytes are dropped from echo and text, also inside the terminator.
                    StreamCase{"NulBytes", "\0<a>\0\0x</Status\0Change>\0\0tail\0"s},
                    // Terminator-like bytes that fall back inside the marker.
                    StreamCase{"NearTerminators", "<</</S</StatusChange</StatusChange>>" + kRecord},
                    // Longer than the text may grow: the text takes its memory, growing,
                    // in runs, then the limit ends the pass with EOutOfMemory.
                    StreamCase{"RecordOverTheLimit", std::string(300, 'x') + kRecord, 256},
                    StreamCase{"LongRecordInManyBlocks", std::string(400, 'y') + kRecord},
                    StreamCase{"ResetByThePeer", kRecord + "<StatusChange>cut", 4096, 10054}),
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
