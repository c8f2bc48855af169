# Visual component kit: gradient panels, rounded shape buttons, twinkling
# labels and a status bar that repeats hints.
add_library(tarn_kit STATIC
  ${CMAKE_CURRENT_LIST_DIR}/gradient_panel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/glyph.cpp
  ${CMAKE_CURRENT_LIST_DIR}/shape_button.cpp
  ${CMAKE_CURRENT_LIST_DIR}/twinkle_label.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hint_status_bar.cpp)
target_include_directories(tarn_kit PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_kit PUBLIC Qt6::Widgets)
