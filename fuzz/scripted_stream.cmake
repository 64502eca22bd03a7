# The in-memory peer, the in-process monitor run and the byte-by-byte
# reference loop: shared by the fuzz targets, the benchmarks and the tests,
# whichever is configured first defines it.
if(NOT TARGET scripted_stream)
  add_library(scripted_stream STATIC
    ${CMAKE_CURRENT_LIST_DIR}/byte_by_byte_monitor.cpp
    ${CMAKE_CURRENT_LIST_DIR}/monitor_over_stream.cpp
    ${CMAKE_CURRENT_LIST_DIR}/receive_path_comparison.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scripted_stream_stack.cpp
  )
  target_link_libraries(scripted_stream PUBLIC monitor_core)
  if(TARGET ws2_32)  # the peer's forwarded calls load it
    add_dependencies(scripted_stream ws2_32)
  endif()
endif()
