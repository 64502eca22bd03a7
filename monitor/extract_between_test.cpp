#include "monitor/extract_between.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ExtractBetweenTest, Table) {
  struct Case {
    const char* text;
    const char* start;
    const char* end;
    const char* value;
  };
  const Case cases[] = {
      {"<a>1</a>", "<a>", "</a>", "1"},
      {"x<a></a>y", "<a>", "</a>", ""},                        // end right after start
      {"<a>1</a><a>2</a>", "<a>", "</a>", "1"},                // first occurrence
      {"<A>1</A>", "<a>", "</a>", ""},                         // letter case counts
      {"no tags", "<a>", "</a>", ""},                          // start missing
      {"<a>1 and the rest", "<a>", "</a>", "1 and the rest"},  // end missing
      {"</a><a>2", "<a>", "</a>", "2"},                        // end only before start
      {"text<a>", "<a>", "</a>", ""},                          // start ends the text
      {"abc</a>", "", "</a>", "abc"},                          // empty start marker
      {"<a>abc</a>", "<a>", "", "abc</a>"},                    // empty end marker
      {"<a> two\r\nlines <b> </a>", "<a>", "</a>", " two\r\nlines <b> "},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, ExtractBetween(c.text, c.start, c.end))
        << c.text << " | " << c.start << " | " << c.end;
  }
}

TEST(ExtractBetweenTest, BytesAreComparedAsTheyAre) {
  std::string text("<a>\0x\xff</a>", 10);
  EXPECT_EQ(std::string("\0x\xff", 3), ExtractBetween(text, "<a>", "</a>"));
}

// The one-pass extraction must give each pair exactly what ExtractBetween
// gives it alone, however the pairs' markers and values meet in the text.
std::vector<std::string> EachBetween(std::string_view text, const std::vector<MarkerPair>& pairs) {
  std::vector<std::string_view> values(pairs.size(), "(not set)");
  ExtractEachBetween(text, pairs, values);
  return std::vector<std::string>(values.begin(), values.end());
}

std::vector<std::string> OneByOne(std::string_view text, const std::vector<MarkerPair>& pairs) {
  std::vector<std::string> values;
  for (const MarkerPair& pair : pairs) values.push_back(ExtractBetween(text, pair.start, pair.end));
  return values;
}

TEST(ExtractEachBetweenTest, EachPairAsExtractBetweenGivesIt) {
  const std::vector<MarkerPair> tags = {{"<a>", "</a>"}, {"<b>", "</b>"}, {"<ab>", "</ab>"}};
  struct Case {
    const char* name;
    std::string text;
    std::vector<MarkerPair> pairs;
  };
  const Case cases[] = {
      {"in order", "<a>1</a><b>2</b><ab>3</ab>", tags},
      {"in another order", "<ab>3</ab><b>2</b><a>1</a>", tags},
      {"nested", "<a>1<b>2</b>3</a>", tags},
      {"interleaved", "<a>1<b>2</a>3</b>", tags},
      {"first occurrence", "<b>x</b><a>1</a><b>y</b>", tags},
      {"end missing", "<a>1</b>2", tags},
      {"end only before start", "</a></b><a>1<b>2", tags},
      {"value empty", "<a></a><b></b>", tags},
      {"start at the end of the text", "text<a>", tags},
      {"first byte at the end of the text", "<a>1</a><", tags},
      {"text shorter than a marker", "<a", tags},
      {"empty text", "", tags},
      {"no pairs", "<a>1</a>", {}},
      {"two pairs, one start", "<a>1</b>2</a>", {{"<a>", "</a>"}, {"<a>", "</b>"}}},
      {"end marker inside the start marker", "<a<b>1<b>2", {{"<a<b>", "<b>"}}},
      {"end marker overlapping the start marker", "<aa<aa<", {{"<aa", "<aa<"}}},
      {"start and end the same", "<x>1<x>2<x>", {{"<x>", "<x>"}}},
      {"bytes as they are", std::string("<a>\0\xff</a>", 9), {{"<a>", "</a>"}}},
      {"a record",
       "<StatusChange><LogRec.SyslogID>7</LogRec.SyslogID><Event>E</Event><State>up</State>"
       "</StatusChange>",
       {{"<Event>", "</Event>"},
        {"<State>", "</State>"},
        {"<StatusChange>", "</StatusChange>"},
        {"<LogRec.SyslogID>", "</LogRec.SyslogID>"},
        {"<Host>", "</Host>"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EachBetween(c.text, c.pairs), OneByOne(c.text, c.pairs));
  }
}

TEST(ExtractEachBetweenTest, MorePairsThanOnePassWatches) {
  std::vector<std::string> names;
  std::vector<MarkerPair> pairs;
  std::string text;
  for (int i = 0; i < 40; ++i) names.push_back(std::to_string(100 + i));
  std::vector<std::string> starts, ends;
  for (const std::string& name : names) {
    starts.push_back("<" + name + ">");
    ends.push_back("</" + name + ">");
    text += starts.back() + "v" + name + ends.back();
  }
  for (std::size_t i = 0; i < names.size(); ++i) pairs.push_back({starts[i], ends[i]});
  const std::vector<std::string> values = EachBetween(text, pairs);
  ASSERT_EQ(values.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(values[i], "v" + names[i]);
}

// Texts and markers from a small alphabet, so that markers meet, overlap and
// repeat in every way; the seed keeps it repeatable.
TEST(ExtractEachBetweenTest, AgreesWithExtractBetweenOnRandomTexts) {
  std::mt19937 random(24);
  const std::string alphabet = "<</ab";
  auto some = [&](std::size_t least, std::size_t most) {
    std::string text = "<";
    const std::size_t size = least + random() % (most - least + 1);
    while (text.size() < size) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    std::vector<std::string> markers;
    const std::size_t pair_count = 1 + random() % 5;
    for (std::size_t i = 0; i < 2 * pair_count; ++i) markers.push_back(some(3, 5));
    std::vector<MarkerPair> pairs;
    for (std::size_t i = 0; i < pair_count; ++i)
      pairs.push_back({markers[2 * i], markers[2 * i + 1]});
    std::string text;
    const std::size_t pieces = random() % 8;
    for (std::size_t i = 0; i < pieces; ++i) {
      text += random() % 2 ? markers[random() % markers.size()] : some(1, 4).substr(1);
    }
    ASSERT_EQ(EachBetween(text, pairs), OneByOne(text, pairs)) << "text " << text;
  }
}

}  // namespace
