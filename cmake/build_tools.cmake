# Before project(): the build tools the default generator and compiler need,
# named by their Debian packages when missing (tools/setup.sh installs them).
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
if(tilvex_missing)
  list(JOIN tilvex_missing " " tilvex_missing)
  message(FATAL_ERROR
          "Missing Debian packages: ${tilvex_missing}\n"
          "Install them with: apt-get install ${tilvex_missing}\n"
          "(or run 'bash tools/setup.sh' as root, which installs everything the build needs).")
endif()
