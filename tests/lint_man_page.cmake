# Renders the manual page with every groff warning on; any output fails.
execute_process(COMMAND ${GROFF} -ww -z -b -man ${PAGE}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (status ${status}):\n${out}${err}")
endif()
