if(NOT TARN_ENGINE_ONLY)
  add_executable(pw_form_test ${CMAKE_CURRENT_LIST_DIR}/pw_form_test.cpp)
  target_link_libraries(pw_form_test PRIVATE tarn_generator tarn_qt_test_main Qt6::Test)
  gtest_discover_tests(pw_form_test DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
