# Help, colour and about windows on the offscreen platform.
add_executable(help_test ${CMAKE_CURRENT_LIST_DIR}/help_test.cpp)
target_link_libraries(help_test PRIVATE tarn_help tarn_qt_test_main)
gtest_discover_tests(help_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

# For looking at the windows on a real display; not a test.
add_executable(help_preview ${CMAKE_CURRENT_LIST_DIR}/help_preview.cpp)
target_link_libraries(help_preview PRIVATE tarn_help)
