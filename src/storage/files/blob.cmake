# The blob file: header, block cache and block chains of blob values.
add_library(cairn_blob STATIC
  ${CMAKE_CURRENT_LIST_DIR}/block.cpp
  ${CMAKE_CURRENT_LIST_DIR}/block_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/blob_buffer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/blob_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/blob_chain.cpp)
target_include_directories(cairn_blob PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_blob PUBLIC cairn_io cairn_errors)
target_link_libraries(cairn_files INTERFACE cairn_blob)
