#include "monitor/record_terminator_search.h"

#include <chrono>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "monitor/received_text.h"

namespace {

// The answer must be the whole-text search's after every byte. Random texts
// over the marker's own letters give many partial matches that fall back.
TEST(IncrementalMarkerSearchTest, AgreesWithWholeTextSearchAfterEveryByte) {
  std::mt19937 random(12345);
  for (std::string marker : {"</StatusChange>", "aab", "abab", "aaaa", "abcabd", "a"}) {
    std::string letters = marker + "x";
    for (int round = 0; round < 200; ++round) {
      IncrementalMarkerSearch search(marker);
      std::string text;
      for (int i = 0; i < 60; ++i) {
        char byte = letters[random() % letters.size()];
        text.push_back(byte);
        search.Feed(byte);
        ASSERT_EQ(text.find(marker) != std::string::npos, search.Found())
            << "marker " << marker << " text " << text;
      }
    }
  }
}

TEST(IncrementalMarkerSearchTest, EmptyMarkerIsAlwaysFound) {
  IncrementalMarkerSearch search("");
  EXPECT_TRUE(search.Found());
  search.Feed('a');
  EXPECT_TRUE(search.Found());
}

TEST(IncrementalMarkerSearchTest, StaysFoundUntilReset) {
  IncrementalMarkerSearch search(kRecordTerminator);
  for (char byte : std::string("xx</StatusChange>more")) search.Feed(byte);
  EXPECT_TRUE(search.Found());
  search.Reset();
  EXPECT_FALSE(search.Found());
  for (char byte : kRecordTerminator) search.Feed(byte);
  EXPECT_TRUE(search.Found());
}

// A peer that never ends its record: tens of megabytes of near-misses must
// cost linear time. A whole-text search per byte would take hours here.
TEST(IncrementalMarkerSearchTest, LongStreamWithoutTerminatorCostsLinearTime) {
  const std::string near_miss = "</StatusChange<";
  ReceivedTextBuffer text(16 * 1024 * 1024);
  auto start = std::chrono::steady_clock::now();
  while (text.Text().size() + near_miss.size() <= text.Limit()) {
    for (char byte : near_miss) text.Append(byte);
    ASSERT_FALSE(text.HoldsRecordTerminator());
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace

namespace {

// FeedUntilFound must stop exactly where feeding byte by byte first finds
// the marker, wherever the runs are cut.
TEST(IncrementalMarkerSearchRunTest, StopsWhereByteByByteFindsTheMarker) {
  struct Case {
    const char* name;
    std::string_view before;  // fed byte by byte first
    std::string_view run;
    std::size_t fed;
    bool found;
  };
  const Case cases[] = {
      {"empty run", "", "", 0, false},
      {"no marker", "", "abc<def</Status", 15, false},
      {"marker inside", "", "xx</StatusChange>yy", 17, true},
      {"marker at the start", "", "</StatusChange>", 15, true},
      {"split across runs", "ab</Stat", "usChange>zz", 9, true},
      {"false starts", "", "<</</S</StatusChange</StatusChange>!", 35, true},
      {"already found: one byte", "</StatusChange>", "more", 1, true},
      // The look goes by the marker's 'C': one at the start of the run, before
      // the marker could fit, near the end, and in false starts.
      {"probe byte first", "", "Change</StatusChange>", 21, true},
      {"probe byte too early to start the marker", "", "C</StatusChange>", 16, true},
      {"probe byte where the marker no longer fits", "", "ab</StatusC", 11, false},
      {"marker completed after a cut at its probe byte", "ab</StatusC", "hange>", 6, true},
      {"false starts at the probe byte", "", "</StatusC</Status Change</StatusChange>", 39, true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    IncrementalMarkerSearch search(kRecordTerminator);
    for (char byte : test.before) search.Feed(byte);
    EXPECT_EQ(search.FeedUntilFound(test.run), test.fed);
    EXPECT_EQ(search.Found(), test.found);
  }
}

}  // namespace
