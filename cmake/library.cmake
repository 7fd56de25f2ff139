# The public side of the cgivar library: its headers, included as
# <vokt/cgivar.h>, <vokt/cgiausg.h> and <vokt/varmap.h>, in the build tree
# as installed.  The headers include each other as "varmap.h", which the
# compiler finds beside the including header in either place.  The other
# files of lib/ are the library's own and stay out of view.

set(VOKT_PUBLIC_HEADERS lib/varmap.h lib/cgivar.h lib/cgiausg.h)

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
