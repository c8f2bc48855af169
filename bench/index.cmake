# bench_index: a million keys through one index file on disk.
add_executable(bench_index ${CMAKE_CURRENT_LIST_DIR}/index_bench.cpp)
target_link_libraries(bench_index PRIVATE cairn_index)
