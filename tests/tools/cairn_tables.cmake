# `cairn create`, `apply`, `dump`, `check` and `repair`, and the schema and value parsing.
add_executable(cairn_tables_test
  ${CMAKE_CURRENT_LIST_DIR}/cairn_schema_values_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cairn_tables_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cairn_repair_test.cpp)
target_link_libraries(cairn_tables_test PRIVATE cairn_tool GTest::gtest_main)
gtest_discover_tests(cairn_tables_test DISCOVERY_MODE PRE_TEST)
