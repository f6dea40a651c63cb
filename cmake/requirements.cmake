# What the build needs beyond the compiler, checked before anything else so
# that a missing piece stops the configuration at once with the Debian package
# that provides it (tools/setup.sh installs them all).
set(tilvex_missing "")
if(TILVEX_TESTS AND NOT TILVEX_FUZZ)
  if(CMAKE_CROSSCOMPILING)  # GoogleTest is built from its sources there
    if(NOT EXISTS /usr/src/googletest/googletest/CMakeLists.txt)
      list(APPEND tilvex_missing googletest)
    endif()
  else()
    find_package(GTest QUIET)
    if(NOT GTest_FOUND)
      list(APPEND tilvex_missing libgtest-dev)
    endif()
  endif()
  find_program(TILVEX_GROFF groff)  # the manual page check
  if(NOT TILVEX_GROFF)
    list(APPEND tilvex_missing groff-base)
  endif()
endif()
tilvex_stop_if_missing("${tilvex_missing}")
if(TILVEX_BENCH AND NOT TILVEX_FUZZ)
  find_package(benchmark QUIET)
  if(NOT benchmark_FOUND)
    message(STATUS "Google Benchmark not found (Debian package libbenchmark-dev): "
                   "tilvex_bench is not built")
  endif()
endif()
