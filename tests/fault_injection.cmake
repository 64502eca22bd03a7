# The fault-injection sweeps: the monitor in process over a scripted peer,
# every call of each kind failing in turn. Included by tests/CMakeLists.txt.
if(NOT WIN32)
  add_executable(fault_sweep_test
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/call_faults.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/clock_and_locale_faults_posix.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/clock_and_locale_faults_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/expected_outcome.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/fault_sweep_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/scripted_monitor_run.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/scripted_peer_stack.cpp
    ${CMAKE_CURRENT_LIST_DIR}/fault_injection/thread_start_faults_posix.cpp
  )
  target_link_libraries(fault_sweep_test PRIVATE program_life run_in_child failing_allocation GTest::gtest_main ${CMAKE_DL_LIBS})
  if(TARGET ws2_32)
    add_dependencies(fault_sweep_test ws2_32)
  endif()
  gtest_discover_tests(fault_sweep_test PROPERTIES TIMEOUT 600)
endif()
