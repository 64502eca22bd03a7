#include "demo_server/status_record_maker.h"

#include <time.h>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// Events with the state a node is in after them.
constexpr std::array<std::pair<const char*, const char*>, 8> kEvents = {{
    {"ProcessStarted", "running"},
    {"ProcessStopped", "stopped"},
    {"ConfigChanged", "running"},
    {"Heartbeat", "running"},
    {"DiskSpaceLow", "degraded"},
    {"TempHigh", "degraded"},
    {"FailoverStarted", "failover"},
    {"BackupCompleted", "idle"},
}};
constexpr std::array<const char*, 3> kVersions = {"3.4.1", "3.4.2", "3.5.0-rc1"};
constexpr std::array<const char*, 4> kFiles = {"/var/log/app.log", "/etc/app/app.conf",
                                               "/srv/data/orders.db", "/var/spool/app/queue.dat"};
constexpr std::array<const char*, 4> kHosts = {"db-01", "db-02", "web-01", "cache-03"};

std::string Field(const std::string& tag, const std::string& value) {
  return "<" + tag + ">" + value + "</" + tag + ">";
}

}  // namespace

std::string IsoUtcText(std::chrono::system_clock::time_point moment) {
  const time_t seconds = std::chrono::system_clock::to_time_t(moment);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

StatusRecordMaker::StatusRecordMaker(std::uint32_t seed, int first_id)
    : random_(seed), next_id_(first_id) {}

// Seven in ten optional fields carry a value; the rest are split between an
// empty element and no element at all, as different server versions send.
std::string StatusRecordMaker::OptionalField(const std::string& tag, const std::string& value) {
  const int roll = Roll(20);
  if (roll < 14) return Field(tag, value);
  if (roll < 17) return Field(tag, "");
  return "";
}

std::string StatusRecordMaker::Next(std::chrono::system_clock::time_point moment) {
  const auto& [event, state] = kEvents[Roll(kEvents.size())];
  temp_tenths_ = std::clamp(temp_tenths_ + Roll(31) - 15, 300, 900);
  const std::string temp =
      std::to_string(temp_tenths_ / 10) + "." + std::to_string(temp_tenths_ % 10);
  const int node = 1 + Roll(12);
  const std::string member = (node < 10 ? "node-0" : "node-") + std::to_string(node);

  const std::string fields[] = {
      Field("LogRec.SyslogID", std::to_string(next_id_++)),
      Field("Event", event),
      Field("DateTime", IsoUtcText(moment)),
      Field("Version", kVersions[Roll(kVersions.size())]),
      OptionalField("FileName", kFiles[Roll(kFiles.size())]),
      OptionalField("Member.ID", member),
      OptionalField("Host", kHosts[Roll(kHosts.size())]),
      OptionalField("Temp", temp),
      OptionalField("State", state),
  };

  // Half the records come pretty-printed, one field per line.
  const std::string separator = Roll(2) == 0 ? "" : "\r\n";
  std::string record = "<StatusChange>";
  for (const std::string& field : fields) {
    if (!field.empty()) record += separator + field;
  }
  return record + separator + "</StatusChange>";
}
