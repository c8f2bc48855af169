# The generator window (Qt).
if(NOT TARN_ENGINE_ONLY)
  add_library(tarn_generator STATIC
    ${CMAKE_CURRENT_LIST_DIR}/pw_form.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pw_glyphs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pw_services.cpp)
  target_include_directories(tarn_generator PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(tarn_generator PUBLIC tarn_derive tarn_shell tarn_kit Qt6::Widgets)
endif()
