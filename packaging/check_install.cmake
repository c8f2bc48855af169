# Installs the build in BUILD_DIR into a temporary DESTDIR under /usr and
# checks the installed files one by one, then that the installed command-line
# programs run from there (no path into the build folder left in them).
# Usage: cmake -DBUILD_DIR=<build> -P check_install.cmake
cmake_policy(SET CMP0057 NEW)  # IN_LIST
set(root ${BUILD_DIR}/install-check)
file(REMOVE_RECURSE ${root})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${root}
    ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed:\n${out}")
endif()

set(expected
  usr/bin/cairn
  usr/bin/tarn
  usr/bin/tarn-derive
  usr/share/applications/tarn.desktop
  usr/share/icons/hicolor/scalable/apps/tarn.svg
  usr/share/man/man1/cairn.1.gz
  usr/share/man/man1/tarn-derive.1.gz
  usr/share/man/man1/tarn.1.gz)
foreach(size 16 32 48 64 128 256)
  list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/tarn.png)
endforeach()
foreach(part DAT IDX BLB)
  if(EXISTS ${BUILD_DIR}/bin/Data/Pal.${part})
    list(APPEND expected usr/share/tarn/Data/Pal.${part})
  endif()
endforeach()
list(SORT expected)

file(GLOB_RECURSE installed RELATIVE ${root} ${root}/*)
list(SORT installed)
if(NOT installed STREQUAL expected)
  string(REPLACE ";" "\n  " e "${expected}")
  string(REPLACE ";" "\n  " i "${installed}")
  message(FATAL_ERROR "installed files differ\nexpected:\n  ${e}\ninstalled:\n  ${i}")
endif()

foreach(page tarn tarn-derive cairn)
  execute_process(COMMAND gzip -t ${root}/usr/share/man/man1/${page}.1.gz RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${page}.1.gz is not a valid gzip file")
  endif()
endforeach()

file(STRINGS ${root}/usr/share/applications/tarn.desktop entry)
foreach(line "Exec=tarn" "Icon=tarn" "Type=Application")
  if(NOT line IN_LIST entry)
    message(FATAL_ERROR "tarn.desktop lacks ${line}")
  endif()
endforeach()

# Wrong usage is answered by the programs themselves: they load and run.
execute_process(COMMAND ${root}/usr/bin/tarn-derive RESULT_VARIABLE result ERROR_VARIABLE err)
if(NOT result EQUAL 64 OR NOT err MATCHES "usage: tarn-derive")
  message(FATAL_ERROR "installed tarn-derive does not run: ${result} ${err}")
endif()
execute_process(COMMAND ${root}/usr/bin/cairn RESULT_VARIABLE result ERROR_VARIABLE err)
if(result EQUAL 0 OR NOT err MATCHES "usage: cairn")
  message(FATAL_ERROR "installed cairn does not run: ${result} ${err}")
endif()
file(REMOVE_RECURSE ${root})
message(STATUS "install tree checked: ${installed}")
