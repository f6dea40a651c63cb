# cmake -D BUILD_DIR=... -D PREFIX=... -D EXPECTED=list.txt -P check_install.cmake
# Installs the build into PREFIX and fails unless exactly the listed files
# arrived and the installed programs run.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
file(GLOB_RECURSE found LIST_DIRECTORIES false RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT found)
file(STRINGS ${EXPECTED} expected)
list(SORT expected)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " found "${found}")
  string(REPLACE ";" "\n  " expected "${expected}")
  message(FATAL_ERROR "installed files:\n  ${found}\nexpected:\n  ${expected}")
endif()
foreach(program tilvex-codec tilvex-demo)
  execute_process(COMMAND ${PREFIX}/bin/${program} --version RESULT_VARIABLE status
                  OUTPUT_VARIABLE version)
  if(NOT status EQUAL 0 OR NOT version MATCHES "^${program} \\(tilvex\\) ")
    message(FATAL_ERROR "installed ${program} --version: ${status} ${version}")
  endif()
endforeach()
file(REMOVE_RECURSE ${PREFIX})
