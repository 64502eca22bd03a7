# The program around the monitor: the start-up sequence and its modules, the
# top-level handler and the ways the process ends; and the executables.
# Included at the end of monitor/CMakeLists.txt.

add_library(monitor_process STATIC
  ${CMAKE_CURRENT_LIST_DIR}/cpu_usage_probe.cpp
  ${CMAKE_CURRENT_LIST_DIR}/failure_description.cpp
  ${CMAKE_CURRENT_LIST_DIR}/failure_report.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_end.cpp
  ${CMAKE_CURRENT_LIST_DIR}/process_modules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_modules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/runtime_error_line.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup_sequence.cpp
)
target_link_libraries(monitor_process PUBLIC monitor_core transport platform runtime)

# add_status_monitor_executable(NAME HOST PORT LIMIT [DEAD_PATH_TIMEOUT_S])
#
# Builds the status monitor program as executable NAME, talking to HOST:PORT
# and collecting at most LIMIT bytes while waiting for the end of a record;
# the dead-path time-out is the build's unless given.
# Every variant shares all objects but the settings; the sockets library is
# built beside it (the program loads it from its own directory).
function(add_status_monitor_executable name host port limit)
  add_executable(${name} ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/main.cpp)
  add_status_monitor_settings(${name} "${host}" "${port}" "${limit}" ${ARGN})
  target_link_libraries(${name} PRIVATE monitor_process)
  if(TARGET ws2_32)
    add_dependencies(${name} ws2_32)
  endif()
endfunction()

# The program itself, with the settings of the build (CMakeCache).
add_status_monitor_executable(status-monitor
  "${STATUS_SERVER_HOST}" "${STATUS_SERVER_PORT}" "${RECEIVED_TEXT_LIMIT}")

if(BUILD_TESTING)
  add_executable(monitor_process_test
    ${CMAKE_CURRENT_LIST_DIR}/cpu_usage_probe_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/failure_report_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/process_end_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/process_modules_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/runtime_error_line_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/startup_sequence_test.cpp
  )
  if(WIN32)
    # Each case runs in a child that is this executable started again; the
    # child must not print the test framework's report into its output.
    target_link_libraries(monitor_process_test PRIVATE monitor_process run_in_child failing_allocation quiet_child_main)
  else()
    target_link_libraries(monitor_process_test PRIVATE monitor_process run_in_child failing_allocation GTest::gtest_main)
  endif()
  gtest_discover_tests(monitor_process_test)
  if(SANITIZE STREQUAL "address")
    # These tests fault on purpose (null pointer, division by zero) to see the
    # fault handlers at work; UBSan would stop each fault before the processor
    # raises it. AddressSanitizer stays on.
    set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/process_modules_test.cpp
      PROPERTIES COMPILE_OPTIONS -fno-sanitize=undefined)
  endif()
endif()
