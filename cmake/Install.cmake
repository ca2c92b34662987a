# Install rules and the Debian package (cpack -G DEB).
#
# Installed program names clash with no Debian package; the build keeps its
# own names in build/bin:
#   update      -> devupdate        (the window, target update_gui)
#   update-cli  -> devupdate-cli
#   update-station -> devupdate-station (finds devupdate-cli beside itself)
#   devsim      -> devupdate-sim    (target devsim_main)
#   mkupd       -> mkupd
include(GNUInstallDirs)

set(UPDATE_PACKAGE devupdate)
set(UPDATE_MAINTAINER "Device update maintainers <devupdate@example.org>")
set(UPDATE_INSTALLED_PROGRAMS
  update_gui=devupdate
  update-cli=devupdate-cli
  update-station=devupdate-station
  devsim_main=devupdate-sim
  mkupd=mkupd)

foreach(pair IN LISTS UPDATE_INSTALLED_PROGRAMS)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 installed)
  if(TARGET ${target})
    install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${installed})
    list(APPEND UPDATE_MAN_PAGES ${installed})
  endif()
endforeach()

# Man pages from the scdoc sources in docs/man, gzipped as Debian wants them.
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
  foreach(page IN LISTS UPDATE_MAN_PAGES)
    set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(output ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" < \"$1\" | \"$2\" -9n > \"$3\"" ${SCDOC_PROGRAM} ${source} ${GZIP_PROGRAM} ${output}
      DEPENDS ${source}
      COMMENT "Man page ${page}(1)"
      VERBATIM)
    list(APPEND man_outputs ${output})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_outputs})
  install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc or gzip not found: no man pages (scripts/install-deps.sh installs scdoc)")
endif()

set(packaging ${CMAKE_SOURCE_DIR}/packaging)
install(FILES ${packaging}/devupdate.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
if(TARGET update-station)
  install(FILES ${packaging}/devupdate-station.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${packaging}/devupdate-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
  RENAME devupdate.xml)
foreach(size 16 32 48 64 128 256)
  install(FILES ${packaging}/icons/${size}x${size}/devupdate.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${packaging}/icons/scalable/devupdate.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${packaging}/completion/devupdate-cli ${packaging}/completion/mkupd
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(docdir ${CMAKE_INSTALL_DATADIR}/doc/${UPDATE_PACKAGE})
install(FILES ${packaging}/copyright DESTINATION ${docdir})
install(FILES ${CMAKE_SOURCE_DIR}/docs/udev/70-devupdate.rules.example DESTINATION ${docdir}/examples)
install(FILES ${CMAKE_SOURCE_DIR}/samples/sample.upd DESTINATION ${docdir}/examples)
configure_file(${packaging}/changelog ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  COMMAND sh -c "\"$0\" -9nc < \"$1\" > \"$2\"" ${GZIP_PROGRAM} ${CMAKE_BINARY_DIR}/packaging/changelog
          ${CMAKE_BINARY_DIR}/packaging/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${UPDATE_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_SOURCE_DIR}/cmake/StripPackage.cmake)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update tool for devices on a serial line")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Updates a device's firmware over a serial line (57600 baud, 8N1), target by
target, and programs its CPLD/FPGA targets by playing XSVF streams through
JTAG frames the device executes. A window (devupdate), a command line for
production lines and scripts (devupdate-cli), an update-file writer (mkupd)
and a simulated device for trying it without hardware (devupdate-sim).")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${UPDATE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
