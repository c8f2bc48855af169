add_executable(entry_test ${CMAKE_CURRENT_LIST_DIR}/entry_test.cpp)
target_link_libraries(entry_test PRIVATE tarn_entry tarn_qt_test_main Qt6::Test)
gtest_discover_tests(entry_test DISCOVERY_MODE PRE_TEST
                     PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
