# Index file, keys, the B+tree, per-record maintenance and the checker.
add_library(cairn_index STATIC
  ${CMAKE_CURRENT_LIST_DIR}/index_format.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_page.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_key.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_pending.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_maintenance.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_check.cpp)
target_include_directories(cairn_index PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_index PUBLIC cairn_locale cairn_io cairn_errors)
target_link_libraries(cairn_access INTERFACE cairn_index cairn_locale)

# Building the index file's view of a table from its open data file.
add_library(cairn_index_table STATIC ${CMAKE_CURRENT_LIST_DIR}/index_table_info.cpp)
target_link_libraries(cairn_index_table PUBLIC cairn_index cairn_data)
target_link_libraries(cairn_access INTERFACE cairn_index_table)
if(TARN_FUZZ)
  # Coverage for the fuzz targets of fuzz/index.cmake.
  target_compile_options(cairn_index PRIVATE -fsanitize=fuzzer-no-link,address)
endif()
