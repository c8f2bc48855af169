# File access, byte-range locks, copies and the scramble routine.
add_library(cairn_io STATIC
  ${CMAKE_CURRENT_LIST_DIR}/abstract_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/chunk_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_copy.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_faults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_handler.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_list.cpp
  ${CMAKE_CURRENT_LIST_DIR}/journal.cpp
  ${CMAKE_CURRENT_LIST_DIR}/known_bytes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/memory_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/os_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/physical_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scramble.cpp)
target_include_directories(cairn_io PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_io PUBLIC cairn_errors ZLIB::ZLIB Threads::Threads)
target_link_libraries(cairn_files INTERFACE cairn_io)
