if(NOT TARN_ENGINE_ONLY)
  add_executable(pw_form_test ${CMAKE_CURRENT_LIST_DIR}/pw_form_test.cpp)
  target_link_libraries(pw_form_test PRIVATE tarn_generator tarn_qt_test_main Qt6::Test)
  gtest_discover_tests(pw_form_test DISCOVERY_MODE PRE_TEST
                       PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()

# Not a test: shows both dialogs on a real display to compare with the design.
if(NOT TARN_ENGINE_ONLY)
  add_executable(dialog_preview ${CMAKE_CURRENT_LIST_DIR}/dialog_preview.cpp)
  target_link_libraries(dialog_preview PRIVATE tarn_generator tarn_entry)
endif()
