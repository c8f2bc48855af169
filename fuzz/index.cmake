# libFuzzer targets of the index file: the page decoder and whole files.
# Their corpora live in fuzz/corpus/index_page and fuzz/corpus/index_file and
# are replayed by the regular test cairn_index_fuzz_replay.
add_library(cairn_index_fuzz STATIC ${CMAKE_CURRENT_LIST_DIR}/index_fuzz.cpp)
target_link_libraries(cairn_index_fuzz PUBLIC cairn_index)
if(TARN_FUZZ)
  foreach(name index_page_fuzz index_file_fuzz)
    add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}_main.cpp)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer,address)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address)
    target_link_libraries(${name} PRIVATE cairn_index_fuzz)
  endforeach()
  target_compile_options(cairn_index_fuzz PRIVATE -fsanitize=fuzzer-no-link,address)
endif()
