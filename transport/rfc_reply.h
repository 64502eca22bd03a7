#pragma once

#include <string>
#include <vector>

/// A numbered text reply of a command/response protocol: "250 OK", or
/// several lines "250-first" ... "250 last".
struct TIdRFCReply {
  int NumericCode = 0;
  std::vector<std::string> Text;

  void Clear() {
    NumericCode = 0;
    Text.clear();
  }
  /// The text lines joined by CR LF.
  std::string JoinedText() const {
    std::string joined;
    for (std::size_t i = 0; i < Text.size(); ++i) {
      if (i > 0) joined += "\r\n";
      joined += Text[i];
    }
    return joined;
  }
};
