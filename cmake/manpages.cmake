# The manual pages: man/NAME.SECTION.scd, turned into roff by scdoc at
# build time (target manpages, part of "all") and installed under
# share/man/manSECTION with the programs (not in the component
# "development").  VOKT_MANPAGES: AUTO builds them when scdoc is found,
# ON requires scdoc (the Debian package), OFF leaves them out.

if(PROJECT_IS_TOP_LEVEL)
  set(vokt_manpages_default AUTO)
else()
  set(vokt_manpages_default OFF)
endif()
set(VOKT_MANPAGES ${vokt_manpages_default} CACHE STRING "Build the manual pages with scdoc: AUTO, ON or OFF")
set_property(CACHE VOKT_MANPAGES PROPERTY STRINGS AUTO ON OFF)

set(VOKT_MANPAGE_SOURCES
  man/vokt.1.scd
  man/vokt-replay.1.scd
  man/vokt-dump.5.scd
  man/vokt.cgi.8.scd)

if(NOT VOKT_MANPAGES STREQUAL "OFF")
  if(VOKT_MANPAGES STREQUAL "ON")
    find_program(SCDOC scdoc REQUIRED)
  else()
    find_program(SCDOC scdoc)
  endif()
endif()

if(SCDOC AND NOT VOKT_MANPAGES STREQUAL "OFF")
  include(GNUInstallDirs)
  set(pages "")
  foreach(source ${VOKT_MANPAGE_SOURCES})
    get_filename_component(page "${source}" NAME_WLE)
    string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section "${page}")
    set(out "${CMAKE_CURRENT_BINARY_DIR}/man/${page}")
    add_custom_command(OUTPUT "${out}"
      COMMAND "${CMAKE_COMMAND}" "-DSCDOC=${SCDOC}" "-DIN=${CMAKE_CURRENT_SOURCE_DIR}/${source}"
              "-DOUT=${out}" -P "${CMAKE_CURRENT_SOURCE_DIR}/cmake/scdoc.cmake"
      DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${source}" "${CMAKE_CURRENT_SOURCE_DIR}/cmake/scdoc.cmake"
      COMMENT "Manual page ${page}"
      VERBATIM)
    list(APPEND pages "${out}")
    if(VOKT_INSTALL)
      install(FILES "${out}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
    endif()
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${pages})
endif()
