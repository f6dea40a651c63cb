# Installing and packaging: the programs into bin/, their manual pages into
# share/man/man1/, the README into share/doc/tilvex/ and the bash completions
# of the companions; CPack makes a Debian package and a .tar.gz of the same
# files. The files an installation must hold are listed in
# cmake/installed_files.txt, which the install check and the package check
# both read.
include(GNUInstallDirs)

foreach(program tilvex tilvex-codec tilvex-demo tilvex-gfx)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# The manual pages carry the project version.
file(GLOB tilvex_man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1)
set(tilvex_configured_man_pages "")
foreach(page ${tilvex_man_pages})
  get_filename_component(name ${page} NAME)
  configure_file(${page} ${PROJECT_BINARY_DIR}/man/${name} @ONLY)
  list(APPEND tilvex_configured_man_pages ${PROJECT_BINARY_DIR}/man/${name})
endforeach()
install(FILES ${tilvex_configured_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

file(GLOB tilvex_completions CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/completion/tilvex-*)
install(FILES ${tilvex_completions} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
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
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_install.cmake)
  # The manual pages must format without a single warning (groff is
  # required with the tests, see requirements.cmake).
  add_test(NAME man_pages_lint
           COMMAND ${CMAKE_COMMAND} -D GROFF=${TILVEX_GROFF} "-D PAGES=${tilvex_configured_man_pages}"
                   -P ${PROJECT_SOURCE_DIR}/cmake/check_man_pages.cmake)
endif()
