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

# The main window over a real Pal table, and two programs sharing one table.
add_library(repository_fixture STATIC ${CMAKE_CURRENT_LIST_DIR}/repository_fixture.cpp)
target_include_directories(repository_fixture PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_compile_definitions(repository_fixture PRIVATE
  TARN_PAL_SCHEMA="${PROJECT_SOURCE_DIR}/src/app/data/pal_schema.json")
target_link_libraries(repository_fixture PUBLIC tarn_shell cairn_tool nlohmann_json::nlohmann_json)

add_executable(repository_window_test ${CMAKE_CURRENT_LIST_DIR}/repository_window_test.cpp)
target_link_libraries(repository_window_test PRIVATE repository_fixture tarn_qt_test_main)
gtest_discover_tests(repository_window_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)

add_executable(repository_peer ${CMAKE_CURRENT_LIST_DIR}/repository_peer.cpp)
target_link_libraries(repository_peer PRIVATE tarn_shell)
add_executable(two_programs_test ${CMAKE_CURRENT_LIST_DIR}/two_programs_test.cpp)
target_compile_definitions(two_programs_test PRIVATE TARN_REPOSITORY_PEER="$<TARGET_FILE:repository_peer>")
add_dependencies(two_programs_test repository_peer)
target_link_libraries(two_programs_test PRIVATE repository_fixture tarn_qt_test_main)
gtest_discover_tests(two_programs_test DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
