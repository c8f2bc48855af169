# Stand-ins for the desktop services the shell needs: the program's own path,
# where its files live, and private-profile INI files.
add_library(tarn_platform_shell STATIC
  ${CMAKE_CURRENT_LIST_DIR}/program_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/program_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/profile_file.cpp)
target_include_directories(tarn_platform_shell PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_platform_shell PUBLIC Qt6::Core)
