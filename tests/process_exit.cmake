# How the real program ends, checked on the executable itself. Included by
# tests/CMakeLists.txt.

# Preloaded into the program to make its version query fail (start-up failure).
add_library(failing_uname SHARED ${CMAKE_CURRENT_LIST_DIR}/failing_uname.cpp)

add_executable(process_exit_test ${CMAKE_CURRENT_LIST_DIR}/process_exit_test.cpp)
target_link_libraries(process_exit_test PRIVATE GTest::gtest_main)
target_compile_definitions(process_exit_test PRIVATE
  STATUS_MONITOR_PATH="$<TARGET_FILE:status-monitor>"
  FAILING_UNAME_PATH="$<TARGET_FILE:failing_uname>")
add_dependencies(process_exit_test status-monitor failing_uname)
gtest_discover_tests(process_exit_test)
