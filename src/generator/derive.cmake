# Password derivation: plain C++, built in every configuration (also engine-only).
add_library(tarn_derive STATIC
  ${CMAKE_CURRENT_LIST_DIR}/codepage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/derive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_file.cpp)
target_include_directories(tarn_derive PUBLIC ${PROJECT_SOURCE_DIR}/src)
