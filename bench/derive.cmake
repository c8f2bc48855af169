# bench_derive: derivation time and bytes read, small key file against a 4 GiB one.
add_executable(bench_derive ${CMAKE_CURRENT_LIST_DIR}/bench_derive.cpp)
target_link_libraries(bench_derive PRIVATE tarn_derive)
