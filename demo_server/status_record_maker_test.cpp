#include "demo_server/status_record_maker.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

using std::chrono::system_clock;

const system_clock::time_point kMoment =
    system_clock::from_time_t(1796880667);  // 2026-12-10T05:31:07Z

// The value between the first start tag and the end tag after it, or nothing
// when the element is absent.
std::optional<std::string> Value(const std::string& record, const std::string& tag) {
  const std::string start = "<" + tag + ">", end = "</" + tag + ">";
  size_t from = record.find(start);
  if (from == std::string::npos) return std::nullopt;
  from += start.size();
  size_t to = record.find(end, from);
  if (to == std::string::npos) return std::nullopt;
  return record.substr(from, to - from);
}

TEST(StatusRecordMakerTest, IsoUtcTextOfAKnownMoment) {
  EXPECT_EQ(IsoUtcText(kMoment), "2026-12-10T05:31:07Z");
  EXPECT_EQ(IsoUtcText(system_clock::from_time_t(0)), "1970-01-01T00:00:00Z");
}

TEST(StatusRecordMakerTest, EveryRecordIsWholeWithItsFourMainFields) {
  StatusRecordMaker maker(1, 1000);
  for (int i = 0; i < 300; ++i) {
    const std::string record = maker.Next(kMoment);
    SCOPED_TRACE(record);
    ASSERT_TRUE(record.starts_with("<StatusChange>"));
    ASSERT_TRUE(record.ends_with("</StatusChange>"));
    ASSERT_EQ(record.find("</StatusChange>"), record.size() - 15) << "terminator inside";
    ASSERT_EQ(record.find('\0'), std::string::npos);
    EXPECT_EQ(Value(record, "LogRec.SyslogID"), std::to_string(1000 + i));
    EXPECT_EQ(Value(record, "DateTime"), "2026-12-10T05:31:07Z");
    for (const char* tag : {"Event", "Version"}) {
      ASSERT_TRUE(Value(record, tag).has_value()) << tag;
      EXPECT_FALSE(Value(record, tag)->empty()) << tag;
    }
  }
}

TEST(StatusRecordMakerTest, OptionalFieldsAreSometimesAbsentOrEmptyAndValuesChange) {
  StatusRecordMaker maker(2);
  const char* optional_tags[] = {"FileName", "Member.ID", "Host", "Temp", "State"};
  std::map<std::string, std::set<std::string>> seen;  // "absent" stands for no element
  int pretty = 0;
  const int kRecords = 400;
  for (int i = 0; i < kRecords; ++i) {
    const std::string record = maker.Next(kMoment);
    if (record.find("\r\n") != std::string::npos) ++pretty;
    for (const char* tag : {"Event", "Version", "FileName", "Member.ID", "Host", "Temp", "State"}) {
      seen[tag].insert(Value(record, tag).value_or("absent"));
    }
  }
  for (const char* tag : optional_tags) {
    SCOPED_TRACE(tag);
    EXPECT_TRUE(seen[tag].contains("absent"));
    EXPECT_TRUE(seen[tag].contains(""));
    EXPECT_GE(seen[tag].size(), 4u) << "values should change";
  }
  EXPECT_GE(seen["Event"].size(), 5u);
  EXPECT_GE(seen["Version"].size(), 2u);
  EXPECT_GT(pretty, kRecords / 4) << "both layouts should occur";
  EXPECT_LT(pretty, kRecords * 3 / 4);
}

TEST(StatusRecordMakerTest, TheSameSeedGivesTheSameRecords) {
  StatusRecordMaker first(42), second(42), other(43);
  std::string a, b, c;
  for (int i = 0; i < 20; ++i) {
    a += first.Next(kMoment);
    b += second.Next(kMoment);
    c += other.Next(kMoment);
  }
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
}

}  // namespace
