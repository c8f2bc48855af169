# The dataset components windows bind to: session, database, query, blob stream.
add_library(cairn_dataset STATIC
  ${CMAKE_CURRENT_LIST_DIR}/dataset_session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dataset_database.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dataset_fields.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dataset_query.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dataset_blob_stream.cpp)
target_include_directories(cairn_dataset PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_dataset PUBLIC cairn_query cairn_tables)
target_link_libraries(cairn_access INTERFACE cairn_dataset)
