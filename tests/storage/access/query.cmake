# Sorting, the query subset and the dataset components.
add_executable(query_test
  ${CMAKE_CURRENT_LIST_DIR}/query_sort_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/query_statement_test.cpp)
target_link_libraries(query_test PRIVATE cairn_query tables_test_support GTest::gtest_main)
target_compile_definitions(query_test PRIVATE TABLES_WORKER="$<TARGET_FILE:tables_worker>")
add_dependencies(query_test tables_worker)
gtest_discover_tests(query_test DISCOVERY_MODE PRE_TEST)

add_executable(dataset_test
  ${CMAKE_CURRENT_LIST_DIR}/dataset_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/memory_database_test.cpp)
target_link_libraries(dataset_test PRIVATE cairn_dataset tables_test_support GTest::gtest_main)
target_compile_definitions(dataset_test PRIVATE TABLES_WORKER="$<TARGET_FILE:tables_worker>")
add_dependencies(dataset_test tables_worker)
gtest_discover_tests(dataset_test DISCOVERY_MODE PRE_TEST)
