# Cross-builds the Windows programs on Debian with mingw-w64:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The POSIX threading flavour of the compiler is the one whose C++ library
# has std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORPANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORPANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VORPANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VORPANE_MINGW_TRIPLE}-windres)
# The host's strip does not read Windows executables; packages strip theirs.
set(CMAKE_STRIP /usr/bin/${VORPANE_MINGW_TRIPLE}-strip CACHE FILEPATH "")

# Besides the cross compiler's own, the prefix where scripts/setup.sh builds
# FreeType and zint for the receipt renderer.
set(CMAKE_FIND_ROOT_PATH /usr/${VORPANE_MINGW_TRIPLE} /usr/local/lib/vorpane-mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static executables: nothing to ship beside them but Windows' own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs the test executables under wine, in a private prefix and on a
# private X server that the wine_start fixture brings up (see the script).
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;exec;${CMAKE_BINARY_DIR}/wine")
endif()
