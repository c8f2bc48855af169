# Tests of the program shell: colour texts, date formats, settings, the
# exception log, and the main window on the offscreen platform.
add_executable(shell_core_test
  ${CMAKE_CURRENT_LIST_DIR}/colour_text_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/date_formats_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exception_log_test.cpp)
target_link_libraries(shell_core_test PRIVATE tarn_shell tarn_qt_test_main)
gtest_discover_tests(shell_core_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

add_executable(main_form_test ${CMAKE_CURRENT_LIST_DIR}/main_form_test.cpp)
target_link_libraries(main_form_test PRIVATE tarn_shell tarn_qt_test_main)
gtest_discover_tests(main_form_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

# Runs inside the program's own application object, so it has its own main.
add_executable(tarn_application_test ${CMAKE_CURRENT_LIST_DIR}/tarn_application_test.cpp)
target_link_libraries(tarn_application_test PRIVATE tarn_shell Qt6::Test GTest::gtest)
gtest_discover_tests(tarn_application_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
