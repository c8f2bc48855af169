# Installing like a Linux desktop program, and the Debian package (`make
# package`). Programs go to bin, the delivered table to share/tarn/Data
# (where an installed tarn looks for it), the desktop entry, icons and
# manual pages to their usual places.
include(GNUInstallDirs)
set(TARN_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# Installing and packaging take what the build made (`make package` builds
# first) rather than building every test again.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

foreach(program tarn tarn-derive cairn)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The table is made at build time; a build without it installs without it.
install(DIRECTORY ${PROJECT_BINARY_DIR}/bin/Data/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarn/Data
  OPTIONAL FILES_MATCHING PATTERN "Pal.DAT" PATTERN "Pal.IDX" PATTERN "Pal.BLB")

install(FILES ${TARN_PACKAGING_DIR}/tarn.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES ${TARN_PACKAGING_DIR}/icons/tarn-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME tarn.png)
endforeach()
install(FILES ${TARN_PACKAGING_DIR}/icons/tarn.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages, compressed as Debian keeps them (no name or time stamp in
# the gzip header, so the package builds the same twice).
set(tarn_man_pages)
foreach(page tarn tarn-derive cairn)
  set(page_gz ${PROJECT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${page_gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9nc ${TARN_PACKAGING_DIR}/man/${page}.1 > ${page_gz}
    DEPENDS ${TARN_PACKAGING_DIR}/man/${page}.1 VERBATIM)
  list(APPEND tarn_man_pages ${page_gz})
endforeach()
add_custom_target(tarn_man_pages ALL DEPENDS ${tarn_man_pages})
install(FILES ${tarn_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarn)
set(CPACK_PACKAGE_VENDOR "The Tarn Project")
set(CPACK_PACKAGE_VERSION_MAJOR ${PROJECT_VERSION_MAJOR})
set(CPACK_PACKAGE_VERSION_MINOR ${PROJECT_VERSION_MINOR})
set(CPACK_PACKAGE_VERSION_PATCH ${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "password repository with a deterministic password generator")
set(CPACK_PACKAGE_DESCRIPTION
  "Tarn keeps one record per account in a grid, copies and generates passwords, prints the list, and regenerates vital passwords from a key file, a string and a number so that they never need storing. Includes tarn-derive and the cairn table shell.")
set(CPACK_PACKAGE_CONTACT "The Tarn Project <tarn@example.org>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tarn.example.org/")
# Libraries come from dpkg-shlibdeps; the X11 platform plugin is loaded at
# run time, so no library link names it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
include(CPack)

# The install tree, checked file by file in a temporary DESTDIR.
if(NOT TARN_ENGINE_ONLY)
  add_test(NAME install_tree
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR}
      -P ${TARN_PACKAGING_DIR}/check_install.cmake)
  add_test(NAME debian_package COMMAND ${TARN_PACKAGING_DIR}/check_package.sh ${PROJECT_BINARY_DIR})
  set(tarn_install_tests install_tree debian_package)
  # The installed program run on a virtual display, when the tools are here.
  find_program(TARN_XVFB_RUN xvfb-run)
  find_program(TARN_XDOTOOL xdotool)
  find_program(TARN_OPENBOX openbox)
  find_program(TARN_XPROP xprop)
  if(TARN_XVFB_RUN AND TARN_XDOTOOL AND TARN_OPENBOX AND TARN_XPROP)
    add_test(NAME installed_program_run
      COMMAND ${TARN_PACKAGING_DIR}/check_installed_run.sh ${PROJECT_BINARY_DIR})
    set_tests_properties(installed_program_run PROPERTIES TIMEOUT 300)
    list(APPEND tarn_install_tests installed_program_run)
  endif()
  # All install from the same build folder; one at a time.
  set_tests_properties(${tarn_install_tests} PROPERTIES RESOURCE_LOCK tarn_install)
endif()
