# cairn: the table engine's shell. Every subcommand source in cairn/ goes
# into one library; main.cpp dispatches over them.
file(GLOB cairn_tool_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/cairn/*.cpp)
list(REMOVE_ITEM cairn_tool_sources ${CMAKE_CURRENT_LIST_DIR}/cairn/main.cpp)
add_library(cairn_tool STATIC ${cairn_tool_sources})
target_include_directories(cairn_tool PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(cairn_tool PUBLIC cairn_files cairn_access nlohmann_json::nlohmann_json)
add_executable(cairn ${CMAKE_CURRENT_LIST_DIR}/cairn/main.cpp)
target_link_libraries(cairn PRIVATE cairn_tool)
