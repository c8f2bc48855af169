# The program shell: process values, colour texts, date formats, settings,
# exception log, message boxes, termination, the repository store, its grid
# and record commands, the main window; and the program.
add_library(tarn_shell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/process_values.cpp
  ${CMAKE_CURRENT_LIST_DIR}/colour_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/date_formats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_box.cpp
  ${CMAKE_CURRENT_LIST_DIR}/termination.cpp
  ${CMAKE_CURRENT_LIST_DIR}/exception_log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tarn_application.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_icons.cpp
  ${CMAKE_CURRENT_LIST_DIR}/table_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/repository_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pwd_grid_model.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pwd_grid.cpp
  ${CMAKE_CURRENT_LIST_DIR}/record_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/main_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program.cpp)
target_include_directories(tarn_shell PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_shell PUBLIC tarn_kit tarn_platform_shell tarn_derive cairn_dataset Qt6::Widgets)

add_executable(tarn ${CMAKE_CURRENT_LIST_DIR}/main.cpp)
target_link_libraries(tarn PRIVATE tarn_shell)
# The start-up password dialog, once its library exists.
if(TARGET tarn_entry)
  target_link_libraries(tarn PRIVATE tarn_entry)
endif()
# GoBtn opens the generator dialog.
if(TARGET tarn_generator)
  target_link_libraries(tarn PRIVATE tarn_generator)
endif()
