# Crash safety: writers ended at a chosen write or killed at random, power
# lost with writes not yet on disk, and the table's rollback journal.
add_library(crash_test_support STATIC ${CMAKE_CURRENT_LIST_DIR}/crash_posts.cpp)
target_link_libraries(crash_test_support PUBLIC tables_test_support)

add_executable(crash_writer ${CMAKE_CURRENT_LIST_DIR}/crash_writer.cpp)
target_link_libraries(crash_writer PRIVATE crash_test_support)

add_executable(journal_test ${CMAKE_CURRENT_LIST_DIR}/journal_test.cpp)
target_link_libraries(journal_test PRIVATE crash_test_support GTest::gtest_main)
target_compile_definitions(journal_test PRIVATE CRASH_WRITER="$<TARGET_FILE:crash_writer>")
add_dependencies(journal_test crash_writer)
gtest_discover_tests(journal_test DISCOVERY_MODE PRE_TEST)

add_executable(power_loss_test ${CMAKE_CURRENT_LIST_DIR}/power_loss_test.cpp)
target_link_libraries(power_loss_test PRIVATE crash_test_support GTest::gtest_main)
gtest_discover_tests(power_loss_test DISCOVERY_MODE PRE_TEST)
