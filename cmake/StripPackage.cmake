# CPack pre-build script: strips the programs in the package's staging tree
# (install(PROGRAMS) copies them as built, with their symbols).
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND strip --strip-unneeded --remove-section=.comment --remove-section=.note ${program}
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "strip ${program} failed: ${result}")
  endif()
endforeach()
