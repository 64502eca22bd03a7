#pragma once

#include "monitor/monitor_state.h"

/// The settings compiled into the executable: the status server that the
/// program watches when its command line names none, and the limits. Defined
/// in program/built_in_settings.cpp, which add_status_monitor_settings
/// (program/CMakeLists.txt) compiles into each executable with its own values.
MonitorSettings BuiltInMonitorSettings();
