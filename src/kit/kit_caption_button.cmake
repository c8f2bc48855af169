# Shape buttons with a caption and a picture beside it (added after kit.cmake).
target_sources(tarn_kit PRIVATE ${CMAKE_CURRENT_LIST_DIR}/caption_shape_button.cpp)
