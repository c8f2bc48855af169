# Index file, keys, tree, maintenance, checker.
add_executable(cairn_index_test
  ${CMAKE_CURRENT_LIST_DIR}/index_model_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_format_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/index_file_test.cpp)
target_link_libraries(cairn_index_test PRIVATE cairn_index GTest::gtest_main)
gtest_discover_tests(cairn_index_test DISCOVERY_MODE PRE_TEST)

add_executable(cairn_index_fuzz_replay_test ${CMAKE_CURRENT_LIST_DIR}/index_fuzz_replay_test.cpp)
target_compile_definitions(cairn_index_fuzz_replay_test PRIVATE
  TARN_FUZZ_CORPUS="${PROJECT_SOURCE_DIR}/fuzz/corpus")
target_link_libraries(cairn_index_fuzz_replay_test PRIVATE cairn_index_fuzz GTest::gtest_main)
gtest_discover_tests(cairn_index_fuzz_replay_test DISCOVERY_MODE PRE_TEST)
