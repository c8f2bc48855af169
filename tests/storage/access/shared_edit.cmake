# Several long-lived processes editing the same records of one table.
add_executable(shared_edit_worker ${CMAKE_CURRENT_LIST_DIR}/shared_edit_worker.cpp)
target_link_libraries(shared_edit_worker PRIVATE tables_test_support)

add_executable(shared_edit_test ${CMAKE_CURRENT_LIST_DIR}/shared_edit_test.cpp)
target_link_libraries(shared_edit_test PRIVATE tables_test_support GTest::gtest_main)
target_compile_definitions(shared_edit_test
                           PRIVATE SHARED_EDIT_WORKER="$<TARGET_FILE:shared_edit_worker>")
add_dependencies(shared_edit_test shared_edit_worker)
gtest_discover_tests(shared_edit_test DISCOVERY_MODE PRE_TEST)

