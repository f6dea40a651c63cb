# Windows only: the application manifest in every program, the check that no
# program needs a DLL from outside Windows, and the release zip
# (tilvex-<version>-win64.zip: the programs, README.txt and HOW-TO-RUN.txt).
enable_language(RC)

set(TILVEX_WINDOWS_PROGRAMS)
foreach(program tilvex tilvex-codec tilvex-demo tilvex-gfx)
  if(TARGET ${program})
    list(APPEND TILVEX_WINDOWS_PROGRAMS ${program})
  endif()
endforeach()
foreach(target ${TILVEX_WINDOWS_PROGRAMS} tilvex_tests)
  if(TARGET ${target})
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src/platform/windows/program.rc)
  endif()
endforeach()

if(TILVEX_TESTS)
  find_program(TILVEX_OBJDUMP NAMES ${TILVEX_MINGW_PREFIX}-objdump objdump)
  set(program_files)
  foreach(program ${TILVEX_WINDOWS_PROGRAMS})
    list(APPEND program_files $<TARGET_FILE:${program}>)
  endforeach()
  add_test(NAME windows.imports
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${TILVEX_OBJDUMP} "-DPROGRAMS=${program_files}"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_windows_imports.cmake)
endif()

# Text files for Windows users, with CR LF line ends.
foreach(text README.md packaging/windows/HOW-TO-RUN.txt)
  file(READ ${PROJECT_SOURCE_DIR}/${text} content)
  string(REPLACE "\n" "\r\n" content "${content}")
  string(REPLACE "@VERSION@" "${PROJECT_VERSION}" content "${content}")
  get_filename_component(name ${text} NAME_WE)
  file(WRITE ${PROJECT_BINARY_DIR}/package/${name}.txt "${content}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${text})
endforeach()

install(TARGETS ${TILVEX_WINDOWS_PROGRAMS} RUNTIME DESTINATION . COMPONENT windows_zip)
install(FILES ${PROJECT_BINARY_DIR}/package/README.txt ${PROJECT_BINARY_DIR}/package/HOW-TO-RUN.txt
        DESTINATION . COMPONENT windows_zip)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME tilvex)
set(CPACK_PACKAGE_VENDOR "the tilvex developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME tilvex-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL windows_zip)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)
