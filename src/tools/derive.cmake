# tarn-derive: the password derivation on the command line (no Qt).
add_executable(tarn-derive ${CMAKE_CURRENT_LIST_DIR}/tarn_derive.cpp)
target_link_libraries(tarn-derive PRIVATE tarn_derive)
