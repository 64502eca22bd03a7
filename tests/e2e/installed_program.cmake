# The installed program: a copy of the program is installed with the
# program's own install rules (as a component that a plain install leaves
# out) into temporary trees, and run from there against a scripted server
# that its argument names. Included by tests/CMakeLists.txt.

add_status_monitor_executable(status-monitor-install
  "${STATUS_SERVER_HOST}" "${STATUS_SERVER_PORT}" "${RECEIVED_TEXT_LIMIT}")
install_status_monitor_program(status-monitor-install
  COMPONENT installed_program_test EXCLUDE_FROM_ALL)

add_executable(installed_program_test ${CMAKE_CURRENT_LIST_DIR}/installed_program_test.cpp)
target_link_libraries(installed_program_test PRIVATE e2e_harness GTest::gtest_main)
target_compile_definitions(installed_program_test PRIVATE
  CMAKE_COMMAND_PATH="${CMAKE_COMMAND}"
  BUILD_DIR="${CMAKE_BINARY_DIR}"
  INSTALL_COMPONENT="installed_program_test"
  INSTALLED_PROGRAM_NAME="$<TARGET_FILE_NAME:status-monitor-install>"
  FAKE_SOCKETS_LIBRARY_PATH="$<TARGET_FILE:fake_ws2>")
add_dependencies(installed_program_test status-monitor-install ws2_32 fake_ws2)
gtest_discover_tests(installed_program_test PROPERTIES TIMEOUT 120)
