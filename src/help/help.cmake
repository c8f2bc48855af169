# Help, colour and about windows.
add_library(tarn_help STATIC
  ${CMAKE_CURRENT_LIST_DIR}/help_topics.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_glyphs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/msg_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/about_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/about_form.cpp)
target_include_directories(tarn_help PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_help PUBLIC tarn_shell tarn_version_check tarn_kit tarn_reports Qt6::Widgets)
# The program's menus open these windows.
target_link_libraries(tarn PRIVATE tarn_help tarn_version_check)
