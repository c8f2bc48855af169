# Report engine and reports: layout read back from PDF, report files,
# exports opened by real readers, the preview window, printing through CUPS.
add_executable(report_layout_test ${CMAKE_CURRENT_LIST_DIR}/report_layout_test.cpp)
target_link_libraries(report_layout_test PRIVATE tarn_reports tarn_qt_test_main)
gtest_discover_tests(report_layout_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

add_executable(report_file_test ${CMAKE_CURRENT_LIST_DIR}/report_file_test.cpp)
target_link_libraries(report_file_test PRIVATE tarn_reports tarn_qt_test_main ZLIB::ZLIB)
gtest_discover_tests(report_file_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

# No print service is reachable at CUPS_SERVER: "no printer installed".
add_executable(report_window_test ${CMAKE_CURRENT_LIST_DIR}/report_window_test.cpp)
target_link_libraries(report_window_test PRIVATE tarn_reports tarn_qt_test_main Qt6::Test)
gtest_discover_tests(report_window_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;CUPS_SERVER=/nonexistent/tarn-cups.sock")

add_executable(report_export_test ${CMAKE_CURRENT_LIST_DIR}/report_export_test.cpp)
target_link_libraries(report_export_test PRIVATE tarn_reports tarn_qt_test_main)
gtest_discover_tests(report_export_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 600)

add_executable(report_print_test ${CMAKE_CURRENT_LIST_DIR}/report_print_test.cpp)
target_link_libraries(report_print_test PRIVATE tarn_reports tarn_qt_test_main Qt6::Test)
gtest_discover_tests(report_print_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen TIMEOUT 600)

# Not a test: pictures of the preview window and the export settings dialogs.
add_executable(report_screens ${CMAKE_CURRENT_LIST_DIR}/report_screens.cpp)
target_link_libraries(report_screens PRIVATE tarn_reports Qt6::Test)
