add_executable(derive_test ${CMAKE_CURRENT_LIST_DIR}/derive_test.cpp)
target_link_libraries(derive_test PRIVATE tarn_derive GTest::gtest_main)
gtest_discover_tests(derive_test DISCOVERY_MODE PRE_TEST)
