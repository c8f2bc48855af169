# Large perspective labels and window drop shadows.
target_sources(tarn_kit PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/large_label.cpp
  ${CMAKE_CURRENT_LIST_DIR}/drop_shadow.cpp)
