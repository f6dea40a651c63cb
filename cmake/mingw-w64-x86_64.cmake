# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threading
# model). The runtime is linked statically so that every .exe runs on its own,
# and programs built here (the tests, for instance) run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TILVEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TILVEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TILVEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TILVEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TILVEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under wine through a small wrapper that keeps wine headless and
# gives the build folder its own wine prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env "WINEPREFIX=${CMAKE_BINARY_DIR}/wine" ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
