# `cairn sql`.
add_executable(cairn_sql_test ${CMAKE_CURRENT_LIST_DIR}/cairn_sql_test.cpp)
target_link_libraries(cairn_sql_test PRIVATE cairn_tool tables_test_support GTest::gtest_main)
target_include_directories(cairn_sql_test PRIVATE ${PROJECT_SOURCE_DIR}/tests/storage/access)
gtest_discover_tests(cairn_sql_test DISCOVERY_MODE PRE_TEST)
