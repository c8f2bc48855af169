# Sessions, directories, tables with their lock protocol, and cursors.
add_library(cairn_tables STATIC
  ${CMAKE_CURRENT_LIST_DIR}/records_bitmap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_directory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_cursor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_check.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_repair.cpp)
target_include_directories(cairn_tables PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_tables PUBLIC cairn_index cairn_index_table cairn_data cairn_blob cairn_io cairn_errors)
target_link_libraries(cairn_access INTERFACE cairn_tables)
