# cmake -DSCDOC=scdoc -DIN=page.1.scd -DOUT=page.1 -P scdoc.cmake
# scdoc reads the page on standard input and writes roff on standard
# output; a failed run leaves no page behind.
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
execute_process(COMMAND "${SCDOC}" INPUT_FILE "${IN}" OUTPUT_FILE "${OUT}.tmp"
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  file(REMOVE "${OUT}.tmp")
  message(FATAL_ERROR "scdoc failed on ${IN}")
endif()
file(RENAME "${OUT}.tmp" "${OUT}")
