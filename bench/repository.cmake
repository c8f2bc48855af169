# bench_repository: program start to the first painted grid, page-at-a-time
# scrolling and memory, over a Pal table of 10,000 and 1,000,000 records.
if(NOT TARN_ENGINE_ONLY)
  add_executable(bench_repository ${CMAKE_CURRENT_LIST_DIR}/repository_bench.cpp)
  target_compile_definitions(bench_repository PRIVATE
    TARN_PAL_SCHEMA="${PROJECT_SOURCE_DIR}/src/app/data/pal_schema.json")
  target_link_libraries(bench_repository PRIVATE tarn_shell cairn_tool nlohmann_json::nlohmann_json)
endif()
