# bench_tables: the table engine and SQLite side by side on password-shaped records.
add_executable(bench_tables
  ${CMAKE_CURRENT_LIST_DIR}/tables_bench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tables_bench_cairn.cpp)
target_include_directories(bench_tables PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_tables PRIVATE cairn_tables SQLite::SQLite3)
