# Data file, record slots and record cache.
add_executable(data_file_tests
  ${CMAKE_CURRENT_LIST_DIR}/data_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/data_layout_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_cache_test.cpp)
target_link_libraries(data_file_tests PRIVATE cairn_data GTest::gtest_main)
gtest_discover_tests(data_file_tests DISCOVERY_MODE PRE_TEST)
