#include "transport/dead_path_detection.h"

#include <algorithm>

#include "platform/sockets_abi.h"
#include "transport/process_stack.h"
#include "transport/socket_handle.h"
#include "transport/socket_stack.h"

namespace {

constexpr std::int32_t kMostProbes = 6;

}  // namespace

DeadPathTimings DeadPathTimingsFor(std::int32_t timeout_s) {
  DeadPathTimings timings{};
  timings.idle_s = std::max<std::int32_t>(1, timeout_s / 2);
  // The rest of the time-out carries the probes; each interval is a whole
  // second at least, so a short time-out gets fewer probes, not shorter ones.
  std::int32_t probing_s = std::max<std::int32_t>(1, timeout_s - timings.idle_s);
  timings.probe_count = std::min(kMostProbes, probing_s);
  timings.interval_s = probing_s / timings.probe_count;
  timings.user_timeout_s = timeout_s;
  return timings;
}

void EnableDeadPathDetection(TIdSocketHandle& socket, std::int32_t timeout_s) {
  DeadPathTimings timings = DeadPathTimingsFor(timeout_s);
  struct Setting {
    int level;
    int option;
    std::int32_t value;
  };
  const Setting settings[] = {
      {ws::kIpProtoTcp, ws::kTcpKeepIdle, timings.idle_s},
      {ws::kIpProtoTcp, ws::kTcpKeepIntvl, timings.interval_s},
      {ws::kIpProtoTcp, ws::kTcpKeepCnt, timings.probe_count},
      {ws::kSolSocket, ws::kSoKeepAlive, 1},
      {ws::kIpProtoTcp, ws::kTcpMaxRt, timings.user_timeout_s},
  };
  for (const Setting& setting : settings) {
    // The result is not checked on purpose: see the header.
    SocketStack->SockSetOption(socket.SocketId, setting.level, setting.option, &setting.value,
                               sizeof setting.value);
  }
}
