# vokt_programm(TARGET [SHARED]): links a program of the project as the
# options say.  Statically by default: a CGI program pays for loading
# shared libraries on every request, and a static program runs anywhere.
# With VOKT_STATIC off, only libstdc++ and libgcc are linked in, as
# distribution packages build it.  SHARED: a desk program that uses a
# library which comes only as a shared one (libcurl, with its TLS
# libraries) is linked dynamically whatever VOKT_STATIC says, libstdc++
# too, which its C++ libraries (RE2) share with it.  Sanitizer builds link
# dynamically and get the sanitizer settings built in
# (tests/support/sanitizer_options.cpp): the tests run the programs with an
# exact environment, where ASAN_OPTIONS cannot reach them.
function(vokt_programm target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "SHARED" "" "")
  if(VOKT_SANITIZE)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/sanitizer_options.cpp)
  elseif(ARG_SHARED)
    return()
  elseif(VOKT_STATIC)
    target_link_options(${target} PRIVATE -static)
  else()
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
