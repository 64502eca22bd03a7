#include "monitor/extract_between.h"

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

}  // namespace
