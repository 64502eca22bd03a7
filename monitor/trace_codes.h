#pragma once

#include <cstdint>

// The monitor's progress points. `MonitorState::TraceCode` holds the last one
// passed, and the error line of a failed pass shows it ("LogRec.Trace=240"),
// so that the log tells where in the pass the failure struck. The numbers
// are part of the log: they never change.

/// Start-up, before the client is made; also the value before start-up.
inline constexpr std::int32_t kTraceMakingClient = 100;
/// Start-up, before the client's port is set.
inline constexpr std::int32_t kTraceSettingPort = 110;
/// Start-up, before the client's host is set.
inline constexpr std::int32_t kTraceSettingHost = 120;
/// Start-up, before the request path is set.
inline constexpr std::int32_t kTraceSettingRequestPath = 200;
/// The head of every cycle, before the connected test.
inline constexpr std::int32_t kTraceCycleHead = 210;
/// The start of a connected pass, before the request is sent.
inline constexpr std::int32_t kTraceRequesting = 220;
/// Before every read attempt.
inline constexpr std::int32_t kTraceReading = 230;
/// After every read attempt, before the event pump and the record and
/// connected tests.
inline constexpr std::int32_t kTraceAfterRead = 240;
/// A complete record, before its id is taken.
inline constexpr std::int32_t kTraceTakingRecordId = 250;
/// The record's id is stored, before the report's lines are written.
inline constexpr std::int32_t kTraceWritingReport = 260;
/// The start of every connect attempt.
inline constexpr std::int32_t kTraceConnecting = 1100;
