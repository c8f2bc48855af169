# The query subset: sort keys, the statement parser, planning and results.
add_library(cairn_query STATIC
  ${CMAKE_CURRENT_LIST_DIR}/query_sort_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/query_parser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/query_statement.cpp)
target_include_directories(cairn_query PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_query PUBLIC cairn_tables cairn_index_table cairn_index cairn_data)
target_link_libraries(cairn_access INTERFACE cairn_query)
