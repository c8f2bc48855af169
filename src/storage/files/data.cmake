# Data file: header, field descriptors, record slots and the record cache.
add_library(cairn_data STATIC
  ${CMAKE_CURRENT_LIST_DIR}/data_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_header.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_locale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/field_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/field_descriptor.cpp
  ${CMAKE_CURRENT_LIST_DIR}/field_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_cache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/sort_file.cpp)
target_include_directories(cairn_data PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_data PUBLIC cairn_io cairn_errors cairn_locale)
target_link_libraries(cairn_files INTERFACE cairn_data)
