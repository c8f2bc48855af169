# The start-up password: its registry value, the entry dialog and the change command.
add_library(tarn_entry STATIC
  ${CMAKE_CURRENT_LIST_DIR}/entry_password.cpp
  ${CMAKE_CURRENT_LIST_DIR}/entry_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/entry_change.cpp)
target_include_directories(tarn_entry PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_entry PUBLIC tarn_shell tarn_kit tarn_registry Qt6::Widgets)
