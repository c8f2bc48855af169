# Sessions, tables, the lock protocol and cursors, including tests that share
# a table between real processes (tables_worker is the other process).
add_library(tables_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/tables_test_support.cpp)
target_link_libraries(tables_test_support PUBLIC cairn_tables GTest::gtest)

add_executable(tables_worker ${CMAKE_CURRENT_LIST_DIR}/tables_worker.cpp)
target_link_libraries(tables_worker PRIVATE tables_test_support)

add_executable(tables_test
  ${CMAKE_CURRENT_LIST_DIR}/change_failure_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cursor_edit_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/records_bitmap_session_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_table_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_cursor_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tables_process_test.cpp)
target_link_libraries(tables_test PRIVATE tables_test_support GTest::gtest_main)
target_compile_definitions(tables_test PRIVATE TABLES_WORKER="$<TARGET_FILE:tables_worker>")
add_dependencies(tables_test tables_worker)
gtest_discover_tests(tables_test DISCOVERY_MODE PRE_TEST)
