# Before project(): the build tools the default generator and compiler need,
# named by their Debian packages when missing (tools/setup.sh installs them).

# Stops the configuration when any Debian package in the list is missing,
# naming them and how to install them.
function(tilvex_stop_if_missing missing)
  if(missing)
    list(JOIN missing " " names)
    message(FATAL_ERROR
            "Missing Debian packages: ${names}\n"
            "Install them with: apt-get install ${names}\n"
            "(or run 'bash tools/setup.sh' as root, which installs everything the build needs).")
  endif()
endfunction()

set(tilvex_missing "")
if(CMAKE_GENERATOR STREQUAL "Unix Makefiles" AND NOT CMAKE_MAKE_PROGRAM)
  find_program(tilvex_make NAMES gmake make)
  if(NOT tilvex_make)
    list(APPEND tilvex_missing make)
  endif()
endif()
if(NOT CMAKE_CXX_COMPILER AND NOT CMAKE_TOOLCHAIN_FILE AND NOT DEFINED ENV{CXX})
  find_program(tilvex_cxx NAMES c++ g++ clang++)
  if(NOT tilvex_cxx)
    list(APPEND tilvex_missing g++)
  endif()
endif()
tilvex_stop_if_missing("${tilvex_missing}")
