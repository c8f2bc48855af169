# bench_blob: 100,000 small blob values and a few of 1 MB through the blob file.
add_executable(bench_blob ${CMAKE_CURRENT_LIST_DIR}/bench_blob.cpp)
target_link_libraries(bench_blob PRIVATE cairn_blob)
