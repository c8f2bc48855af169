# The report engine (layout, preview, printing, report files, exports) and
# the program's two reports.
find_package(GIF REQUIRED)
add_library(tarn_reports STATIC
  ${CMAKE_CURRENT_LIST_DIR}/report.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_render.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_print.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_preview.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/report_export.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_settings_dialog.h
  ${CMAKE_CURRENT_LIST_DIR}/export_common.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_pdf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_html.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_rtf.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_xls.cpp
  ${CMAKE_CURRENT_LIST_DIR}/export_metafile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pass_form.cpp
  ${CMAKE_CURRENT_LIST_DIR}/print_msg_form.cpp)
target_include_directories(tarn_reports PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tarn_reports PUBLIC tarn_shell Qt6::Widgets Qt6::PrintSupport
                      PRIVATE ZLIB::ZLIB GIF::GIF)
