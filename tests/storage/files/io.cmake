# File layer: handlers, shared file objects, locks across processes, copies, scrambling.
add_executable(cairn_lock_helper ${CMAKE_CURRENT_LIST_DIR}/lock_helper.cpp)
target_link_libraries(cairn_lock_helper PRIVATE cairn_io)

add_executable(cairn_io_test
  ${CMAKE_CURRENT_LIST_DIR}/file_copy_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_handler_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_lock_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/known_bytes_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/power_loss_recorder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scramble_test.cpp)
target_link_libraries(cairn_io_test PRIVATE cairn_io GTest::gtest_main)
target_compile_definitions(cairn_io_test PRIVATE
  CAIRN_LOCK_HELPER="$<TARGET_FILE:cairn_lock_helper>")
add_dependencies(cairn_io_test cairn_lock_helper)
gtest_discover_tests(cairn_io_test DISCOVERY_MODE PRE_TEST)
