#pragma once

// What the end-to-end tests share beyond the log lines: a record with its
// report, text builders, and the two clocks of a run (the monitor's own
// stamps, and when the test saw the bytes arrive).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "tests/e2e/child_process.h"
#include "tests/e2e/log_lines.h"
#include "tests/e2e/log_mask.h"
#include "tests/e2e/scripted_server.h"

namespace e2e {

/// A record with every field the report prints, and its report. The
/// report's first line end closes the line of the echo, which ends with the
/// terminator.
inline const std::string kRecordA =
    "<StatusChange><LogRec.SyslogID>1042</LogRec.SyslogID><Event>ProcessStopped</Event>"
    "<DateTime>2026-12-10T05:31:07Z</DateTime><Version>3.4.1</Version>"
    "<FileName>/var/log/app.log</FileName><Member.ID>node-07</Member.ID><Host>db-02</Host>"
    "<Temp>41.5</Temp><State>stopped</State></StatusChange>";
inline const std::string kReportA = "\r\n" + S +
                                    "\r\n"
                                    "SYSLOG.ID: 1042\r\n"
                                    "EVENT: ProcessStopped\r\n"
                                    "DATETIME: 2026-12-10T05:31:07Z\r\n"
                                    "VERSION: 3.4.1\r\n"
                                    "FILENAME: /var/log/app.log\r\n"
                                    "MEMBER.ID: node-07\r\n"
                                    "HOST: db-02\r\n"
                                    "TEMP: 41.5\r\n"
                                    "STATE: stopped\r\n";

/// The text with each '|' replaced by a NUL byte.
inline std::string Nuls(std::string text) {
  std::replace(text.begin(), text.end(), '|', '\0');
  return text;
}

/// `text`, `count` times over.
inline std::string Times(int count, const std::string& text) {
  std::string result;
  while (count-- > 0) result += text;
  return result;
}

/// Where the `nth` (from 0) `piece` starts in the masked log; npos if absent.
inline size_t Find(const std::string& masked, const std::string& piece, int nth = 0) {
  size_t at = masked.find(piece);
  while (nth-- > 0 && at != std::string::npos) at = masked.find(piece, at + 1);
  return at;
}

/// Time between the arrival of the bytes at two offsets of the log: when the
/// monitor wrote them out, give or take the test's own reading delay.
inline std::chrono::milliseconds Between(const ChildProcess& monitor, size_t from, size_t to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(monitor.ArrivalOf(to) -
                                                               monitor.ArrivalOf(from));
}

/// Time between the stamps at two offsets of the log: when the monitor took
/// them, exact to the millisecond, whatever the load on the test machine.
inline std::chrono::milliseconds StampGap(const ChildProcess& monitor, size_t from, size_t to) {
  const int first = StampMilliseconds(monitor.Output(), from);
  const int second = StampMilliseconds(monitor.Output(), to);
  if (first < 0 || second < 0) {
    ADD_FAILURE() << "no time stamp at " << from << " or " << to;
    return std::chrono::milliseconds(0);
  }
  return std::chrono::milliseconds((second - first + 86400000) % 86400000);  // across midnight
}

/// The monitor's argument that points it at `server`: by the name localhost,
/// which its log then shows, as with a built-in server of that name.
inline std::string ServerArgument(const ScriptedServer& server) {
  return "localhost:" + std::to_string(server.Port());
}

/// What the scripted server found wrong, a line each; empty when nothing.
inline std::string Problems(const ScriptedServer& server) {
  std::string text;
  for (const std::string& problem : server.Problems()) text += problem + "\n";
  return text;
}

}  // namespace e2e
