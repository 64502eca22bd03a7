#pragma once

// The monitor's log lines as the end-to-end tests expect them, time stamps
// masked (kStamp). Lines end with CR LF; an error message with a line break
// keeps it.

#include <string>

#include "monitor/version.h"
#include "tests/e2e/log_mask.h"

namespace e2e {

inline const std::string S = kStamp;
inline const std::string kGet = "GET /\r\n";  // what the server receives

inline const std::string kBanner = std::string("Version: ") + kProgramVersion + "\r\n\r\n";
inline const std::string kConnected = S + " Connected to localhost\r\n";
inline const std::string kRequest = S + " GET /\r\n";
inline const std::string kDisconnected = S + " Disconnected\r\n";
inline const std::string kRefused =
    S + "Error: Socket Error # 10061\r\nConnection refused. (EIdConnectException)\r\n";
inline const std::string kUnknownHost =
    S + "Error: Socket Error # 11001\r\nHost not found. (EIdSocketError)\r\n";
inline const std::string kClosedByPeer =
    S + "Error: Connection Closed Gracefully. (EIdConnClosedGracefully)\r\n";
inline const std::string kResetByPeer =
    S + "Error: Socket Error # 10054\r\nConnection reset by peer. (EIdSocketError)\r\n";

}  // namespace e2e
