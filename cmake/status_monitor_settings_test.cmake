# Test of the build-time settings checks (cmake/status_monitor_settings.cmake).
#
#   cmake -DSOURCE_DIR=<repo> -DWORK_DIR=<scratch> -DGENERATOR=<generator>
#         [-DMAKE_PROGRAM=<its build tool>] -P cmake/status_monitor_settings_test.cmake
#
# Each case runs one check in a cmake of its own (a failed check ends the
# cmake that runs it) and looks at its exit status and message. One more case
# configures the real project with a bad port, to show that the checks are
# in force there and stop the configuration; it uses the generator (and build
# tool) of the build that runs the test, which is known to be installed:
# CMake's default one may not be.

if(DEFINED CHECK)
  # One case: run the named check on VALUE.
  include(${CMAKE_CURRENT_LIST_DIR}/status_monitor_settings.cmake)
  if(CHECK STREQUAL "limit")
    status_monitor_check_limit(RECEIVED_TEXT_LIMIT "${VALUE}" ${POINTER_SIZE})
  elseif(CHECK STREQUAL "port")
    status_monitor_check_port(STATUS_SERVER_PORT "${VALUE}")
  elseif(CHECK STREQUAL "dead_path")
    status_monitor_check_dead_path_timeout(DEAD_PATH_TIMEOUT_S "${VALUE}")
  else()
    status_monitor_check_host(STATUS_SERVER_HOST "${VALUE}")
  endif()
  return()
endif()

set(failures 0)

# expect(CHECK VALUE POINTER_SIZE OUTCOME): OUTCOME is "ok" or a regular
# expression that the error message must match.
function(expect check value pointer_size outcome)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -DCHECK=${check} "-DVALUE=${value}" -DPOINTER_SIZE=${pointer_size}
      -P ${CMAKE_CURRENT_FUNCTION_LIST_FILE}
    RESULT_VARIABLE result ERROR_VARIABLE message OUTPUT_QUIET)
  string(REGEX REPLACE "[ \n]+" " " message "${message}")
  if(outcome STREQUAL "ok")
    set(passed FALSE)
    if(result EQUAL 0)
      set(passed TRUE)
    endif()
  else()
    set(passed FALSE)
    if(NOT result EQUAL 0 AND message MATCHES "${outcome}")
      set(passed TRUE)
    endif()
  endif()
  if(NOT passed)
    message(SEND_ERROR "${check} '${value}': expected ${outcome}, got exit ${result}: ${message}")
    math(EXPR failures "${failures} + 1")
    set(failures ${failures} PARENT_SCOPE)
  endif()
endfunction()

set(bad_host "STATUS_SERVER_HOST '.*' .*must be a host name")
set(bad_port "STATUS_SERVER_PORT '.*' is not a valid TCP port; it must be a whole number from 1 to 65535")
set(bad_dead_path "DEAD_PATH_TIMEOUT_S '.*' is not a valid time-out; it must be a whole number of seconds from 0 \\(off\\) to 65535")
set(bad_limit "RECEIVED_TEXT_LIMIT '.*' is not a valid byte count; it must be a whole number from 1 to")

string(REPEAT "a" 63 label63)
string(REPEAT "a" 64 label64)
string(REPEAT "${label63}." 4 name_of_256)

#      check  value                    pointer size  outcome
expect(host   "localhost"              8  ok)
expect(host   "status.example.net"     8  ok)
expect(host   "status.example.net."    8  ok)
expect(host   "db-02.internal"         8  ok)
expect(host   "192.0.2.7"              8  ok)
expect(host   "${label63}.example"     8  ok)
expect(host   ""                       8  "STATUS_SERVER_HOST is empty; it must be a host name")
expect(host   "status example"         8  "${bad_host}")
expect(host   "status\"x"              8  "${bad_host}")
expect(host   "-status.example"        8  "${bad_host}")
expect(host   "status..example"        8  "${bad_host}")
expect(host   "http://status"          8  "${bad_host}")
expect(host   "${label64}.example"     8  "label longer than 63")
expect(host   "${name_of_256}"         8  "${bad_host}")
expect(host   "192.0.2.256"            8  "not a valid IPv4 address")
expect(host   "192.0.2"                8  "not a valid IPv4 address")
expect(host   "192.0.02.7"             8  "not a valid IPv4 address")
expect(port   "1"                      8  ok)
expect(port   "80"                     8  ok)
expect(port   "65535"                  8  ok)
expect(port   ""                       8  "${bad_port}")
expect(port   "0"                      8  "${bad_port}")
expect(port   "65536"                  8  "${bad_port}")
expect(port   "080"                    8  "${bad_port}")
expect(port   "-1"                     8  "${bad_port}")
expect(port   "8o8o"                   8  "${bad_port}")
expect(port   "999999"                 8  "${bad_port}")
expect(limit  "1"                      8  ok)
expect(limit  "67108864"               8  ok)
expect(limit  "18446744073709551615"   8  ok)
expect(limit  "4294967295"             4  ok)
expect(limit  "0"                      8  "${bad_limit} 18446744073709551615")
expect(limit  ""                       8  "${bad_limit}")
expect(limit  "-5"                     8  "${bad_limit}")
expect(limit  "64k"                    8  "${bad_limit}")
expect(limit  "010"                    8  "${bad_limit}")
expect(limit  "18446744073709551616"   8  "${bad_limit} 18446744073709551615")
expect(limit  "4294967296"             4  "${bad_limit} 4294967295")
expect(dead_path "0"                    8  ok)
expect(dead_path "10"                   8  ok)
expect(dead_path "120"                  8  ok)
expect(dead_path "65535"                8  ok)
expect(dead_path ""                     8  "${bad_dead_path}")
expect(dead_path "-1"                   8  "${bad_dead_path}")
expect(dead_path "2.5"                  8  "${bad_dead_path}")
expect(dead_path "2m"                   8  "${bad_dead_path}")
expect(dead_path "0120"                 8  "${bad_dead_path}")
expect(dead_path "65536"                8  "${bad_dead_path}")
expect(dead_path "99999999999"          8  "${bad_dead_path}")

# The real project refuses a bad port before it generates anything.
if(NOT GENERATOR)
  message(FATAL_ERROR "GENERATOR must name the generator to configure the project with")
endif()
set(make_program)
if(MAKE_PROGRAM)
  set(make_program -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM})
endif()
set(build ${WORK_DIR}/bad_port_build)
file(REMOVE_RECURSE ${build})
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${build} -G "${GENERATOR}" ${make_program}
    -DSTATUS_SERVER_PORT=0 -DBUILD_TESTING=OFF
  RESULT_VARIABLE result OUTPUT_QUIET ERROR_VARIABLE message)
file(REMOVE_RECURSE ${build})
string(REGEX REPLACE "[ \n]+" " " message "${message}")
if(result EQUAL 0 OR NOT message MATCHES "${bad_port}")
  message(SEND_ERROR "configuring with STATUS_SERVER_PORT=0 did not stop with the message: ${message}")
  math(EXPR failures "${failures} + 1")
endif()

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) failed")
endif()
message(STATUS "all settings cases passed")
