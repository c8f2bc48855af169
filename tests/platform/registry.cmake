add_executable(registry_test ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp)
target_link_libraries(registry_test PRIVATE tarn_registry GTest::gtest_main)
gtest_discover_tests(registry_test DISCOVERY_MODE PRE_TEST)
