#include "monitor/status_record_report.h"

#include <string>

#include <gtest/gtest.h>

#include "monitor/testing/fake_console_sink.h"
#include "monitor/text_output.h"
#include "runtime/runtime_errors.h"

namespace {

class StatusRecordReportTest : public ::testing::Test {
 protected:
  StatusRecordReportTest() : out_(sink_), state_(1 << 20) {
    services_.output = &out_;
    services_.now = [] { return EncodeDateTime({2024, 3, 5, 9, 5, 3, 7}); };
  }

  // Runs the report over `text` and returns what it wrote.
  std::string Report(std::string_view text) {
    for (char byte : text) state_.ReceivedText.Append(byte);
    ReportStatusRecord(state_, services_);
    return sink_.Written();
  }

  FakeConsoleSink sink_;
  TextOutput out_;
  MonitorServices services_;
  MonitorState state_;
};

TEST_F(StatusRecordReportTest, FullRecordInTableOrder) {
  std::string written = Report(
      "<StatusChange><State>up</State><Temp>41</Temp><Host>h1</Host><Member.ID>m7</Member.ID>"
      "<FileName>f.log</FileName><Version>2</Version><DateTime>2024-03-05</DateTime>"
      "<Event>E1</Event><LogRec.SyslogID>42</LogRec.SyslogID></StatusChange>");
  EXPECT_EQ(
      "\r\n09:05:03.007\r\nSYSLOG.ID: 42\r\nEVENT: E1\r\nDATETIME: 2024-03-05\r\nVERSION: 2\r\n"
      "FILENAME: f.log\r\nMEMBER.ID: m7\r\nHOST: h1\r\nTEMP: 41\r\nSTATE: up\r\n",
      written);
  EXPECT_EQ("42", state_.LastSyslogID);
  EXPECT_EQ(260, state_.TraceCode);
  EXPECT_TRUE(state_.ReceivedText.HoldsRecordTerminator());  // left for the loop to clear
}

TEST_F(StatusRecordReportTest, TerminatorAloneGivesTheFourLabels) {
  EXPECT_EQ("\r\n09:05:03.007\r\nSYSLOG.ID: \r\nEVENT: \r\nDATETIME: \r\nVERSION: \r\n",
            Report("</StatusChange>"));
  EXPECT_EQ("", state_.LastSyslogID);
}

TEST_F(StatusRecordReportTest, FieldValuesAsTheyStand) {
  struct Case {
    const char* text;
    const char* expected_lines;  // after the stamp and SYSLOG.ID lines
  };
  const Case cases[] = {
      // Optional fields only when they have a value.
      {"<FileName></FileName><Host>h</Host></StatusChange>",
       "EVENT: \r\nDATETIME: \r\nVERSION: \r\nHOST: h\r\n"},
      // Letter case counts.
      {"<event>E</event></StatusChange>", "EVENT: \r\nDATETIME: \r\nVERSION: \r\n"},
      // White space and line breaks kept.
      {"<State> up </State><Event>a\r\nb</Event></StatusChange>",
       "EVENT: a\r\nb\r\nDATETIME: \r\nVERSION: \r\nSTATE:  up \r\n"},
      // First occurrence wins, also from bytes before the record.
      {"<Event>old</Event><StatusChange><Event>new</Event></StatusChange>",
       "EVENT: old\r\nDATETIME: \r\nVERSION: \r\n"},
      // Start tag without end tag: to the end of the text, terminator included.
      {"<Version>3</StatusChange>", "EVENT: \r\nDATETIME: \r\nVERSION: 3</StatusChange>\r\n"},
      // End tag only before the start tag: the same.
      {"</Temp></StatusChange><Temp>9", "EVENT: \r\nDATETIME: \r\nVERSION: \r\nTEMP: 9\r\n"},
  };
  for (const Case& c : cases) {
    FakeConsoleSink sink;
    TextOutput out(sink);
    MonitorServices services = services_;
    services.output = &out;
    MonitorState state(1 << 20);
    for (char byte : std::string(c.text)) state.ReceivedText.Append(byte);
    ReportStatusRecord(state, services);
    EXPECT_EQ(std::string("\r\n09:05:03.007\r\nSYSLOG.ID: \r\n") + c.expected_lines, sink.Written())
        << c.text;
  }
}

TEST_F(StatusRecordReportTest, FailedLineEndsTheReportAtTrace260) {
  sink_.fail_write = [](std::string_view block) {
    return block.find("DATETIME") != std::string_view::npos ? 101 : 0;
  };
  std::string text = "<LogRec.SyslogID>7</LogRec.SyslogID><DateTime>d</DateTime></StatusChange>";
  EXPECT_THROW(Report(text), EInOutError);
  EXPECT_EQ("\r\n09:05:03.007\r\nSYSLOG.ID: 7\r\nEVENT: \r\n", sink_.Written());
  EXPECT_EQ(260, state_.TraceCode);
  EXPECT_EQ("7", state_.LastSyslogID);
  EXPECT_EQ(text, state_.ReceivedText.Text());
}

}  // namespace
