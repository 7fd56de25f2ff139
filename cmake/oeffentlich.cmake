# cmake -DLD=ld -DOBJCOPY=objcopy -DNM=nm -DAUS=out.o "-DTEILE=a.o;b.o" -P oeffentlich.cmake
# Links the library's parts into one relocatable object AUS and makes the
# internal parts' symbols (namespace vokt::intern) local; the files' own
# helpers are local already.  What stays global is the public API and the
# C++ library's template instances (weak, in COMDAT groups that the final
# link merges with the C++ library's own: made local, they would break it).
execute_process(COMMAND "${LD}" -r -o "${AUS}" ${TEILE} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ld -r failed")
endif()
execute_process(COMMAND "${NM}" -g --defined-only "${AUS}" OUTPUT_VARIABLE liste RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed")
endif()
string(REPLACE "\n" ";" zeilen "${liste}")
set(behalten "")
foreach(zeile IN LISTS zeilen)
  string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" name "${zeile}")
  if(name STREQUAL "")
    continue()
  endif()
  if(name MATCHES "4vokt6intern")
    continue()
  endif()
  string(APPEND behalten "${name}\n")
endforeach()
file(WRITE "${AUS}.api" "${behalten}")
execute_process(COMMAND "${OBJCOPY}" "--keep-global-symbols=${AUS}.api" "${AUS}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objcopy failed")
endif()
