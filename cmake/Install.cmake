# Install rules; debian/ splits what they install into two packages.
# UPDATE_INSTALLED_PROGRAMS (in the top CMakeLists.txt) names the programs.
include(GNUInstallDirs)

foreach(pair IN LISTS UPDATE_INSTALLED_PROGRAMS)
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 installed)
  if(TARGET ${target})
    install(PROGRAMS $<TARGET_FILE:${target}> DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME ${installed})
  endif()
endforeach()

# Man pages from the scdoc sources in docs/man (NAME.SECTION.scd), gzipped as
# Debian wants them.
find_program(SCDOC_PROGRAM scdoc)
find_program(GZIP_PROGRAM gzip)
if(SCDOC_PROGRAM AND GZIP_PROGRAM)
  file(GLOB man_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
  foreach(source IN LISTS man_sources)
    get_filename_component(page ${source} NAME_WLE)
    string(REGEX REPLACE ".*\\." "" section ${page})
    set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" < \"$1\" | \"$2\" -9n > \"$3\"" ${SCDOC_PROGRAM} ${source} ${GZIP_PROGRAM} ${output}
      DEPENDS ${source}
      COMMENT "Man page ${page}"
      VERBATIM)
    list(APPEND man_outputs ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_outputs})
else()
  message(WARNING "scdoc or gzip not found: no man pages (scripts/install-deps.sh installs scdoc)")
endif()

set(packaging ${CMAKE_SOURCE_DIR}/packaging)
if(TARGET update_gui)
  install(FILES ${packaging}/devupdate.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${packaging}/devupdate-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
    RENAME devupdate.xml)
  install(FILES ${packaging}/org.example.devupdate.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${packaging}/icons/${size}x${size}/devupdate.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${packaging}/icons/scalable/devupdate.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()
# The station window (devupdate-station) runs devupdate-cli beside itself.
if(TARGET update-station)
  install(FILES ${packaging}/devupdate-station.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${packaging}/completion/devupdate-cli ${packaging}/completion/mkupd
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The examples belong to the command line's package, beside its README.
set(examples ${CMAKE_INSTALL_DATADIR}/doc/devupdate-cli/examples)
install(FILES ${CMAKE_SOURCE_DIR}/docs/udev/70-devupdate.rules.example DESTINATION ${examples})
install(FILES ${CMAKE_SOURCE_DIR}/samples/sample.upd DESTINATION ${examples})
