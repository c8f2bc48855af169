# bench_query: sorted copies and jumps by record number against SQLite.
add_executable(bench_query ${CMAKE_CURRENT_LIST_DIR}/query_bench.cpp)
target_include_directories(bench_query PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_query PRIVATE cairn_query cairn_tables SQLite::SQLite3)
