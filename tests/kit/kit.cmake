add_executable(kit_test ${CMAKE_CURRENT_LIST_DIR}/kit_test.cpp)
target_link_libraries(kit_test PRIVATE tarn_kit tarn_qt_test_main)
gtest_discover_tests(kit_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
