# cmake -D GROFF=groff -D "PAGES=a.1;b.1" -P check_man_pages.cmake
# Every page must format with all warnings on and print nothing.
cmake_minimum_required(VERSION 3.25)
foreach(page ${PAGES})
  execute_process(COMMAND ${GROFF} -ww -z -man ${page} RESULT_VARIABLE status
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "${page}: ${out}${err}")
  endif()
endforeach()
list(LENGTH PAGES count)
if(count LESS 3)
  message(FATAL_ERROR "only ${count} manual pages: ${PAGES}")
endif()
