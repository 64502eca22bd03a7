# Packages made by CPack from the install rules: `cpack -G DEB` on Linux,
# `cpack -G ZIP` in the Windows builds. The version is the program's own
# (monitor/version.h, read by the top-level CMakeLists.txt).

set(CPACK_PACKAGE_NAME status-monitor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The status-monitor developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "console monitor that logs the records of a status server")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_PACKAGE_FILE_NAME "status-monitor-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME}")
else()
  set(CPACK_GENERATOR DEB)
  # The package installs under /usr and writes its unit for /usr/bin, so the
  # install runs with that prefix (DESTDIR into the package's tree).
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER
    "The status-monitor developers <status-monitor@example.org>")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The units are installed but not enabled (see postinst); the scripts
  # stop running services before removal and clean up after a purge.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/postinst
    ${CMAKE_CURRENT_LIST_DIR}/prerm ${CMAKE_CURRENT_LIST_DIR}/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # The long description; the synopsis is the summary above.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"status-monitor keeps one TCP connection to a status server, asks it for
status-change records, echoes the stream to standard output and prints each
complete record as labelled, time-stamped lines. It reports every failure as
a log line and reconnects, forever. The server is given as the program's
argument, HOST[:PORT], or built in.
.
The package installs the program, its manual page and two hardened systemd
units, neither enabled: status-monitor.service for the built-in server and
the template status-monitor@.service, one instance per server (such as
status-monitor@status.example.net:80). Enable them with systemctl and read
the log with journalctl (see the manual page).")
endif()

include(CPack)
