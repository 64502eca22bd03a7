#include "monitor/text_output.h"

#include <string>

#include <gtest/gtest.h>

#include "monitor/fake_console_sink.h"
#include "runtime/runtime_errors.h"

namespace {

TEST(TextOutputTest, CharacterDeviceWritesOutAfterEveryStatement) {
  FakeConsoleSink sink(/*character_device=*/true);
  TextOutput out(sink);
  out.WriteLine("Version: 15.2.23.6");
  out.WriteLine();
  out.Write("<");
  out.Write("E");
  EXPECT_EQ((std::vector<std::string>{"Version: 15.2.23.6\r\n", "\r\n", "<", "E"}), sink.writes);
  EXPECT_EQ(0u, out.Pending());
  EXPECT_EQ(1, sink.opens);
}

TEST(TextOutputTest, LongStatementOnCharacterDeviceGoesOutInBufferSizedPieces) {
  FakeConsoleSink sink(true);
  TextOutput out(sink);
  out.WriteLine(std::string(200, 'x'));
  ASSERT_EQ(2u, sink.writes.size());
  EXPECT_EQ(128u, sink.writes[0].size());
  EXPECT_EQ(74u, sink.writes[1].size());
}

TEST(TextOutputTest, FileOrPipeGetsWholeBlocksUntilFlushed) {
  FakeConsoleSink sink(/*character_device=*/false);
  TextOutput out(sink);
  std::string expected;
  for (int i = 0; i < 30; ++i) {
    std::string line = "line " + std::to_string(i);
    out.WriteLine(line);
    out.Write("!");
    expected += line + "\r\n!";
  }
  for (const std::string& block : sink.writes) EXPECT_EQ(128u, block.size());
  EXPECT_EQ(expected.size() / 128, sink.writes.size());
  EXPECT_EQ(expected.size() % 128, out.Pending());
  out.Flush();
  EXPECT_EQ(expected, sink.Written());
  EXPECT_EQ(0u, out.Pending());
}

TEST(TextOutputTest, FlushOfAnEmptyBufferWritesAndOpensNothing) {
  FakeConsoleSink sink(false);
  TextOutput out(sink);
  out.Flush();
  EXPECT_EQ(0, sink.opens);
  EXPECT_TRUE(sink.writes.empty());
}

TEST(TextOutputTest, FailedWriteRaisesWithTheNumberAndDropsTheBlock) {
  struct Case {
    int error;
    const char* message;
  };
  for (Case c : {Case{5, "File access denied"}, Case{28, "I/O error 28"}, Case{32, "I/O error 32"},
                 Case{101, "Disk full"}}) {
    FakeConsoleSink sink(true);
    TextOutput out(sink);
    sink.fail_write = [&](std::string_view block) {
      return block.find("lost") != std::string_view::npos ? c.error : 0;
    };
    try {
      out.WriteLine("lost");
      ADD_FAILURE() << "no error for " << c.error;
    } catch (const EInOutError& error) {
      EXPECT_EQ(c.error, error.ErrorCode());
      EXPECT_EQ(c.message, error.Message());
      EXPECT_STREQ("EInOutError", error.ClassName());
    }
    out.WriteLine("next");
    EXPECT_EQ("next\r\n", sink.Written());
  }
}

TEST(TextOutputTest, FailedBlockEndsTheStatementAndIsNotSentAgain) {
  FakeConsoleSink sink(false);
  TextOutput out(sink);
  int calls = 0;
  sink.fail_write = [&](std::string_view) { return ++calls == 1 ? 28 : 0; };
  out.Write(std::string(100, 'a'));
  EXPECT_THROW(out.WriteLine(std::string(300, 'b')), EInOutError);
  EXPECT_EQ(0u, out.Pending());  // the rest of the statement was not written
  out.Flush();
  EXPECT_TRUE(sink.writes.empty());
  out.WriteLine("c");
  out.Flush();
  EXPECT_EQ("c\r\n", sink.Written());
}

TEST(TextOutputTest, StreamThatCannotBeOpenedFailsEachWriteUntilItOpens) {
  FakeConsoleSink sink(true);
  sink.open_error = 105;
  TextOutput out(sink);
  try {
    out.WriteLine("Version: 15.2.23.6");
    ADD_FAILURE() << "no error";
  } catch (const EInOutError& error) {
    EXPECT_EQ(105, error.ErrorCode());
    EXPECT_EQ("I/O error 105", error.Message());
  }
  EXPECT_THROW(out.Write("x"), EInOutError);
  sink.open_error = 0;
  out.Write("y");
  EXPECT_EQ("y", sink.Written());
  EXPECT_EQ(3, sink.opens);
}

}  // namespace

namespace {

// What the sink saw, and the statement that failed (0: none).
struct Outcome {
  std::vector<std::string> writes;
  std::vector<std::string> failed;
  std::size_t failed_at = 0;
  std::size_t pending = 0;
  bool operator==(const Outcome&) const = default;
};

// WriteBytewise against one Write statement per byte, after a line that
// leaves the buffer part full, with the sink failing one chosen write.
TEST(TextOutputTest, WriteBytewiseDoesWhatOneStatementPerByteDoes) {
  const std::string bytes(300, 'b');
  for (bool character_device : {false, true}) {
    for (int failing_write : {0, 1, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "character device " << character_device
                                      << ", failing write " << failing_write);
      auto run = [&](bool bytewise) {
        FakeConsoleSink sink(character_device);
        int writes = 0;
        sink.fail_write = [&](std::string_view) { return ++writes == failing_write ? 101 : 0; };
        TextOutput out(sink);
        Outcome outcome;
        if (!character_device) out.Write("ab");  // the block starts part full
        std::size_t done = 0;
        try {
          if (bytewise) {
            out.WriteBytewise(bytes, &done);
          } else {
            for (char byte : bytes) {
              ++done;
              out.Write(std::string_view(&byte, 1));
            }
          }
          done = 0;
        } catch (const EInOutError& error) {
          EXPECT_EQ(101, error.ErrorCode());
          outcome.failed_at = done;
        }
        outcome.writes = sink.writes;
        outcome.failed = sink.failed;
        outcome.pending = out.Pending();
        return outcome;
      };
      EXPECT_EQ(run(false), run(true));
    }
  }
}

TEST(TextOutputTest, WriteBytewiseCountsTheByteWhoseStatementCouldNotOpenTheStream) {
  FakeConsoleSink sink(false);
  sink.open_error = 105;
  TextOutput out(sink);
  std::size_t done = 7;
  EXPECT_THROW(out.WriteBytewise("xyz", &done), EInOutError);
  EXPECT_EQ(1u, done);
}

}  // namespace
