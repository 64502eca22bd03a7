# Checks of the monitor's build-time settings. A bad value stops the
# configuration with a message that names the setting and what it may be,
# rather than making a program that cannot work (an empty host), connects
# somewhere unintended (port 080 read as an octal number) or fails to
# compile far away from the cause.
#
# Usable from a project and in script mode (cmake -P), where the tests call
# the functions directly.

# The largest value of an unsigned integer of `bits` bits, in decimal.
function(_status_monitor_max_unsigned bits out)
  if(bits EQUAL 32)
    set(${out} 4294967295 PARENT_SCOPE)
  else()
    set(${out} 18446744073709551615 PARENT_SCOPE)
  endif()
endfunction()

# True when the decimal digits `a` stand for a larger number than those of
# `b` (neither with leading zeros). CMake compares numbers as doubles, which
# cannot tell 2^64 from 2^64-1: compare the digits instead.
function(_status_monitor_decimal_greater a b out)
  string(LENGTH "${a}" length_a)
  string(LENGTH "${b}" length_b)
  if(length_a GREATER length_b)
    set(${out} TRUE PARENT_SCOPE)
  elseif(length_a LESS length_b)
    set(${out} FALSE PARENT_SCOPE)
  elseif(a STRGREATER b)
    set(${out} TRUE PARENT_SCOPE)
  else()
    set(${out} FALSE PARENT_SCOPE)
  endif()
endfunction()

# status_monitor_check_host(NAME VALUE): a host name (letters, digits and
# hyphens in dot-separated labels of 1 to 63 characters, none beginning or
# ending with a hyphen, 253 characters at most, an optional final dot) or a
# dotted IPv4 address.
function(status_monitor_check_host name value)
  set(allowed "a host name (letters, digits, '-' in labels separated by '.') or an IPv4 address such as 192.0.2.7")
  string(LENGTH "${value}" length)
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  if(value STREQUAL "")
    message(FATAL_ERROR "${name} is empty; it must be ${allowed}")
  endif()
  if(length GREATER 253 OR NOT value MATCHES "^${label}(\\.${label})*\\.?$")
    message(FATAL_ERROR "${name} '${value}' is not valid; it must be ${allowed}")
  endif()
  string(REGEX REPLACE "\\.$" "" bare "${value}")
  string(REPLACE "." ";" labels "${bare}")
  foreach(part IN LISTS labels)
    string(LENGTH "${part}" part_length)
    if(part_length GREATER 63)
      message(FATAL_ERROR
        "${name} '${value}' has a label longer than 63 characters; it must be ${allowed}")
    endif()
  endforeach()
  # All digits: then it is an address, and must be a whole one.
  if(bare MATCHES "^[0-9.]+$")
    list(LENGTH labels count)
    set(bad_address FALSE)
    if(NOT count EQUAL 4)
      set(bad_address TRUE)
    endif()
    foreach(part IN LISTS labels)
      if(part GREATER 255 OR (part MATCHES "^0." ))
        set(bad_address TRUE)
      endif()
    endforeach()
    if(bad_address)
      message(FATAL_ERROR
        "${name} '${value}' is not a valid IPv4 address (four numbers 0..255 without leading zeros); it must be ${allowed}")
    endif()
  endif()
endfunction()

# status_monitor_check_port(NAME VALUE): a TCP port, 1..65535, in decimal
# without leading zeros.
function(status_monitor_check_port name value)
  if(NOT value MATCHES "^[1-9][0-9]?[0-9]?[0-9]?[0-9]?$" OR value GREATER 65535)
    message(FATAL_ERROR
      "${name} '${value}' is not a valid TCP port; it must be a whole number from 1 to 65535")
  endif()
endfunction()

# status_monitor_check_limit(NAME VALUE POINTER_SIZE): a positive whole
# number of bytes that fits the target's memory sizes (POINTER_SIZE 4 or 8).
function(status_monitor_check_limit name value pointer_size)
  math(EXPR bits "${pointer_size} * 8")
  _status_monitor_max_unsigned(${bits} max)
  set(too_large FALSE)
  if(value MATCHES "^[1-9][0-9]*$")
    _status_monitor_decimal_greater("${value}" "${max}" too_large)
  endif()
  if(NOT value MATCHES "^[1-9][0-9]*$" OR too_large)
    message(FATAL_ERROR
      "${name} '${value}' is not a valid byte count; it must be a whole number from 1 to ${max}")
  endif()
endfunction()

# status_monitor_check_dead_path_timeout(NAME VALUE): whole seconds from 0
# (no dead-path detection) to 65535. Half of it becomes the keep-alive idle
# time, for which Linux takes at most 32767 seconds.
function(status_monitor_check_dead_path_timeout name value)
  if(NOT value MATCHES "^(0|[1-9][0-9]?[0-9]?[0-9]?[0-9]?)$" OR value GREATER 65535)
    message(FATAL_ERROR
      "${name} '${value}' is not a valid time-out; it must be a whole number of seconds from 0 (off) to 65535")
  endif()
endfunction()
