// The settings of one executable. Compiled into each executable on its own,
// with the compile definitions that add_status_monitor_settings() gives it, so
// that the program and its test variants differ only here.

#include "program/built_in_settings.h"

#if !defined(STATUS_SERVER_HOST) || !defined(STATUS_SERVER_PORT) || \
    !defined(RECEIVED_TEXT_LIMIT) || !defined(DEAD_PATH_TIMEOUT_S)
#error "Build this file through add_status_monitor_settings() in program/CMakeLists.txt"
#endif

MonitorSettings BuiltInMonitorSettings() {
  MonitorSettings settings;
  settings.status_server_host = STATUS_SERVER_HOST;
  settings.status_server_port = STATUS_SERVER_PORT;
  settings.received_text_limit = RECEIVED_TEXT_LIMIT;
  settings.dead_path_timeout_s = DEAD_PATH_TIMEOUT_S;
  return settings;
}
