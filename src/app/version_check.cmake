# The program's version, defined once by the project's version (the fourth
# number is the build), and the version check that reads it.
if(DEFINED PROJECT_VERSION_TWEAK AND NOT PROJECT_VERSION_TWEAK STREQUAL "")
  set(TARN_VERSION_BUILD ${PROJECT_VERSION_TWEAK})
else()
  set(TARN_VERSION_BUILD 0)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/version_check_build.h.in
  ${PROJECT_BINARY_DIR}/generated/app/version_check_build.h @ONLY)

add_library(tarn_version_check STATIC ${CMAKE_CURRENT_LIST_DIR}/version_check.cpp)
target_include_directories(tarn_version_check PUBLIC ${PROJECT_SOURCE_DIR}/src
  PRIVATE ${PROJECT_BINARY_DIR}/generated)
target_link_libraries(tarn_version_check PUBLIC tarn_shell Qt6::Network Qt6::Widgets)
