# `cairn info` and the tool's dispatcher.
add_executable(cairn_info_test ${CMAKE_CURRENT_LIST_DIR}/cairn_info_test.cpp)
target_link_libraries(cairn_info_test PRIVATE cairn_tool GTest::gtest_main)
target_compile_definitions(cairn_info_test PRIVATE CAIRN_BIN="$<TARGET_FILE:cairn>")
add_dependencies(cairn_info_test cairn)
gtest_discover_tests(cairn_info_test DISCOVERY_MODE PRE_TEST)
