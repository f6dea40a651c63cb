# Installing and packaging: the programs into bin/, their manual pages into
# share/man/man1/, the README into share/doc/tilvex/ and the bash completions
# of the companions; CPack makes a Debian package and a .tar.gz of the same
# files. The files an installation must hold are listed by hand in
# cmake/installed_files.txt, which the install check and the package check
# both read.
include(GNUInstallDirs)

# Each program with its manual page and, for the companions, its bash
# completion; tilvex-gfx only where it is built (it needs libpng).
set(tilvex_programs tilvex tilvex-codec tilvex-demo tilvex-gfx)
set(tilvex_built_programs "")
set(tilvex_configured_man_pages "")
foreach(program ${tilvex_programs})
  if(NOT TARGET ${program})
    continue()
  endif()
  list(APPEND tilvex_built_programs ${program})
  install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The manual pages carry the project version.
  set(page ${PROJECT_SOURCE_DIR}/man/${program}.1)
  if(EXISTS ${page})
    configure_file(${page} ${PROJECT_BINARY_DIR}/man/${program}.1 @ONLY)
    list(APPEND tilvex_configured_man_pages ${PROJECT_BINARY_DIR}/man/${program}.1)
  endif()
  if(EXISTS ${PROJECT_SOURCE_DIR}/completion/${program})
    install(FILES ${PROJECT_SOURCE_DIR}/completion/${program}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endif()
endforeach()
install(FILES ${tilvex_configured_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME tilvex)
set(CPACK_PACKAGE_VENDOR "tilvex developers")
set(CPACK_PACKAGE_CONTACT "tilvex developers <tilvex@tilvex.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "extract and insert the graphics of a Quillfen Reach cartridge image")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tilvex.example/")
set(CPACK_GENERATOR DEB TGZ)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # dependencies from dpkg-shlibdeps
include(CPack)

if(TILVEX_TESTS AND NOT TILVEX_FUZZ)
  # Installs into a scratch prefix and compares the files with the list.
  add_test(NAME install_file_list
           COMMAND ${CMAKE_COMMAND} -D BUILD_DIR=${PROJECT_BINARY_DIR}
                   -D PREFIX=${PROJECT_BINARY_DIR}/install-check
                   -D EXPECTED=${PROJECT_SOURCE_DIR}/cmake/installed_files.txt
                   "-D PROGRAMS=${tilvex_built_programs}"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_install.cmake)
  # Each completion loads and offers --help for "PROGRAM --h".
  add_test(NAME bash_completions
           COMMAND bash -c [=[
             for file in "$0"/tilvex-*; do
               source "$file" || exit 1
               name=${file##*/}
               COMP_WORDS=("$name" --h) COMP_CWORD=1 COMPREPLY=()
               "_${name//-/_}" && [[ " ${COMPREPLY[*]} " == *" --help "* ]] || {
                 echo "$name: no --help among: ${COMPREPLY[*]}"; exit 1; }
             done]=] ${PROJECT_SOURCE_DIR}/completion)
  # The manual pages must format without a single warning (groff is
  # required with the tests, see requirements.cmake).
  add_test(NAME man_pages_lint
           COMMAND ${CMAKE_COMMAND} -D GROFF=${TILVEX_GROFF} "-D PAGES=${tilvex_configured_man_pages}"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_man_pages.cmake)
endif()
