# Transactions of a database, with a long-lived reader in another process
# (transaction_worker).
add_executable(transaction_worker ${CMAKE_CURRENT_LIST_DIR}/transaction_worker.cpp)
target_link_libraries(transaction_worker PRIVATE tables_test_support)

add_executable(transaction_test ${CMAKE_CURRENT_LIST_DIR}/transaction_test.cpp)
target_link_libraries(transaction_test PRIVATE tables_test_support GTest::gtest_main)
target_compile_definitions(transaction_test
                           PRIVATE TRANSACTION_WORKER="$<TARGET_FILE:transaction_worker>")
add_dependencies(transaction_test transaction_worker)
gtest_discover_tests(transaction_test DISCOVERY_MODE PRE_TEST)
