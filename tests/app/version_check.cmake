# The version check against an HTTP server on loopback that the test starts.
add_executable(version_check_test ${CMAKE_CURRENT_LIST_DIR}/version_check_test.cpp)
target_link_libraries(version_check_test PRIVATE tarn_version_check tarn_qt_test_main)
gtest_discover_tests(version_check_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
