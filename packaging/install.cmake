# What `cmake --install` puts where (any prefix, DESTDIR honoured), and the
# packages CPack makes from the same rules: a Debian package on Linux, a zip
# on Windows. Included at the end of the top-level CMakeLists.txt.
#
#   <prefix>/bin/status-monitor                      the program
#   <prefix>/lib/status-monitor/libws2_32.so         its sockets library, private
#   <prefix>/share/man/man1/status-monitor.1.gz      the manual page
#   <prefix>/lib/systemd/system/status-monitor.service   the service unit
#   <prefix>/lib/systemd/system/status-monitor@.service  its template, one
#                                                    instance per server
#   <prefix>/share/doc/status-monitor/               README.md, LICENSE, copyright,
#                                                    changelog.gz

set(packaging_dir ${CMAKE_CURRENT_LIST_DIR})
# Files and folders readable by all, whatever the umask of whoever installs.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(readable_file OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(doc_dir share/doc/status-monitor)

# install_status_monitor_program(TARGET [COMPONENT name EXCLUDE_FROM_ALL])
#
# The program and its private sockets library, in the layout that the
# program's loader expects (see the top-level CMakeLists.txt). The tests
# install a variant built for their port with the same rules, as a component
# of its own that a plain install leaves out.
function(install_status_monitor_program target)
  install(TARGETS ${target} RUNTIME DESTINATION ${STATUS_MONITOR_BIN_DIR} ${ARGN})
  # A library that nothing links: not executable, as Debian wants it.
  install(TARGETS ws2_32 LIBRARY DESTINATION ${STATUS_MONITOR_PRIVATE_LIB_DIR}
    PERMISSIONS ${readable_file} ${ARGN})
endfunction()

if(WIN32)
  # The zip: the program (statically linked, it needs nothing beside it), a
  # short README for Windows and the licence, all in one folder.
  install(TARGETS status-monitor RUNTIME DESTINATION .)
  install(FILES ${packaging_dir}/README-windows.txt DESTINATION . RENAME README.txt
    PERMISSIONS ${readable_file})
  install(FILES ${CMAKE_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt
    PERMISSIONS ${readable_file})
else()
  install_status_monitor_program(status-monitor)

  # Manual page and changelog compressed the Debian way (gzip -9n: no name,
  # no time stamp, so that the package's bytes depend on the sources only).
  find_program(GZIP_PROGRAM gzip REQUIRED)
  set(man_page ${CMAKE_CURRENT_BINARY_DIR}/status-monitor.1.gz)
  set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
  add_custom_command(OUTPUT ${man_page}
    COMMAND ${GZIP_PROGRAM} -9n -c ${packaging_dir}/status-monitor.1 > ${man_page}
    DEPENDS ${packaging_dir}/status-monitor.1 VERBATIM)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${GZIP_PROGRAM} -9n -c ${packaging_dir}/changelog > ${changelog}
    DEPENDS ${packaging_dir}/changelog VERBATIM)
  add_custom_target(compressed_docs ALL DEPENDS ${man_page} ${changelog})
  install(FILES ${man_page} DESTINATION share/man/man1 PERMISSIONS ${readable_file})
  # The licence as it is, and again under the name and in the format that
  # Debian gives it.
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/LICENSE ${changelog}
    ${packaging_dir}/copyright DESTINATION ${doc_dir} PERMISSIONS ${readable_file})

  # The units name the installed program and README by their absolute paths,
  # which are known only when installing (cmake --install --prefix, or the
  # package's /usr): write them then. Both come from one file; the template
  # passes its instance name as the program's one argument, after "--" so
  # that no instance name can be taken for an option.
  install(CODE "
    set(unit_dir \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\")
    set(STATUS_MONITOR_PROGRAM \"\${CMAKE_INSTALL_PREFIX}/${STATUS_MONITOR_BIN_DIR}/status-monitor\")
    set(STATUS_MONITOR_README \"\${CMAKE_INSTALL_PREFIX}/${doc_dir}/README.md\")
    set(UNIT_HEADER \"The status monitor as a service, watching the server built into the program.
# Start it with: systemctl enable --now status-monitor
# Read its log with: journalctl -u status-monitor -f\")
    set(UNIT_DESCRIPTION \"Status monitor: status-change records of the built-in status server\")
    set(STATUS_MONITOR_ARGUMENTS \"\")
    configure_file(\"${packaging_dir}/status-monitor.service.in\"
      \"${CMAKE_CURRENT_BINARY_DIR}/unit/status-monitor.service\" @ONLY)
    set(UNIT_HEADER \"The status monitor as a template service, one instance per status server:
# the instance name is HOST or HOST:PORT, as the program's argument.
# Start one with: systemctl enable --now status-monitor@status.example.org:8080
# Read its log with: journalctl -u status-monitor@status.example.org:8080 -f\")
    set(UNIT_DESCRIPTION \"Status monitor: status-change records of %i\")
    set(STATUS_MONITOR_ARGUMENTS \" -- %i\")
    configure_file(\"${packaging_dir}/status-monitor.service.in\"
      \"${CMAKE_CURRENT_BINARY_DIR}/unit/status-monitor@.service\" @ONLY)
    file(INSTALL DESTINATION \"\${unit_dir}\" TYPE FILE
      PERMISSIONS ${readable_file}
      FILES \"${CMAKE_CURRENT_BINARY_DIR}/unit/status-monitor.service\"
        \"${CMAKE_CURRENT_BINARY_DIR}/unit/status-monitor@.service\")
  ")
endif()

include(${packaging_dir}/cpack.cmake)
