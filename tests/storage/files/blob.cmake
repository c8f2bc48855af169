# Blob file, block cache and block chains.
add_executable(blob_file_tests
  ${CMAKE_CURRENT_LIST_DIR}/block_cache_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/blob_file_test.cpp)
target_link_libraries(blob_file_tests PRIVATE cairn_blob GTest::gtest_main)
gtest_discover_tests(blob_file_tests DISCOVERY_MODE PRE_TEST)
