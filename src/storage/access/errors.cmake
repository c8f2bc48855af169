# The engine's error table and exception.
add_library(cairn_errors STATIC ${CMAKE_CURRENT_LIST_DIR}/engine_error.cpp)
target_include_directories(cairn_errors PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_access INTERFACE cairn_errors)
