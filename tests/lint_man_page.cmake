# Renders the manual page with every groff warning on; any output fails.
#   cmake -DGROFF=/usr/bin/groff -DPAGE=man/tq5.1 -P lint_man_page.cmake
if(NOT GROFF)
  message(FATAL_ERROR "groff was not found when the build was configured: install it "
                      "(Debian package groff-base) and configure again")
endif()
execute_process(COMMAND ${GROFF} -ww -z -b -man ${PAGE}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
  message(FATAL_ERROR "groff on ${PAGE} (status ${status}):\n${out}${err}")
endif()
