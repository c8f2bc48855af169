# `cairn info` (index section) and `cairn check` on tables on disk.
add_executable(cairn_index_tool_test ${CMAKE_CURRENT_LIST_DIR}/cairn_index_tool_test.cpp)
target_link_libraries(cairn_index_tool_test PRIVATE cairn_tool GTest::gtest_main)
gtest_discover_tests(cairn_index_tool_test DISCOVERY_MODE PRE_TEST)
