# `cairn info`: the blob file's section.
add_executable(cairn_info_blob_test ${CMAKE_CURRENT_LIST_DIR}/cairn_info_blob_test.cpp)
target_link_libraries(cairn_info_blob_test PRIVATE cairn_tool GTest::gtest_main)
gtest_discover_tests(cairn_info_blob_test DISCOVERY_MODE PRE_TEST)
