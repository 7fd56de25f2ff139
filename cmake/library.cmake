# The public side of the cgivar library: the archive libcgivar.a and its
# headers, included as <vokt/cgivar.h>, <vokt/cgiausg.h> and
# <vokt/varmap.h>, in the build tree as installed.  The headers include
# each other as "varmap.h", which the compiler finds beside the including
# header in either place.  lib/intern/ stays out of view.

set(VOKT_PUBLIC_HEADERS lib/varmap.h lib/cgivar.h lib/cgiausg.h)

# The archive holds one object, linked from all parts, in which every
# symbol but the public API's is made local (cmake/oeffentlich.cmake): a
# caller's own function that happens to have an internal part's name
# cannot replace it, and nm shows the API alone.  A sanitizer build keeps
# the parts as they are (the sanitizers' own symbols must stay global).
set(VOKT_OEFFENTLICH "${CMAKE_CURRENT_BINARY_DIR}/cgivar_oeffentlich.o")
if(VOKT_SANITIZE)
  add_library(cgivar STATIC $<TARGET_OBJECTS:cgivar_teile>)
else()
  add_custom_command(OUTPUT "${VOKT_OEFFENTLICH}"
    COMMAND "${CMAKE_COMMAND}" -DLD=${CMAKE_LINKER} -DOBJCOPY=${CMAKE_OBJCOPY} -DNM=${CMAKE_NM}
            "-DAUS=${VOKT_OEFFENTLICH}" "-DTEILE=$<TARGET_OBJECTS:cgivar_teile>"
            -P "${CMAKE_CURRENT_SOURCE_DIR}/cmake/oeffentlich.cmake"
    DEPENDS cgivar_teile $<TARGET_OBJECTS:cgivar_teile> "${CMAKE_CURRENT_SOURCE_DIR}/cmake/oeffentlich.cmake"
    COMMENT "Linking the library's parts into one object with the public API alone"
    VERBATIM)
  add_library(cgivar STATIC "${VOKT_OEFFENTLICH}")
  set_target_properties(cgivar PROPERTIES LINKER_LANGUAGE CXX)
endif()

# The build tree's <vokt/...>: copies, renewed whenever a header changes.
set(VOKT_BUILD_INCLUDE "${CMAKE_CURRENT_BINARY_DIR}/include")
foreach(header ${VOKT_PUBLIC_HEADERS})
  get_filename_component(name "${header}" NAME)
  configure_file("${header}" "${VOKT_BUILD_INCLUDE}/vokt/${name}" COPYONLY)
endforeach()

# The project's own programs and tests include the headers by their plain
# names from lib/.
target_include_directories(cgivar PUBLIC
  "$<BUILD_INTERFACE:${VOKT_BUILD_INCLUDE}>"
  "$<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/lib>"
  "$<INSTALL_INTERFACE:include>")
# The headers need C++17 at least; the library itself is built as C++20.
target_compile_features(cgivar PUBLIC cxx_std_17)
set_target_properties(cgivar PROPERTIES EXPORT_NAME cgivar)

# The same name as through find_package(vokt).
add_library(vokt::cgivar ALIAS cgivar)
