# bench_slots: record slots through the data file's cache against raw pread/pwrite.
add_executable(bench_slots ${CMAKE_CURRENT_LIST_DIR}/bench_slots.cpp)
target_link_libraries(bench_slots PRIVATE cairn_data)
