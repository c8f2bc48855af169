# Per-user typed values (the registry stand-in): plain C++, no Qt.
add_library(tarn_registry STATIC ${CMAKE_CURRENT_LIST_DIR}/registry.cpp)
target_include_directories(tarn_registry PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_registry PRIVATE nlohmann_json::nlohmann_json)
