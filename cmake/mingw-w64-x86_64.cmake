# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix-threads variant, which has
# std::thread and std::mutex) and runs what it builds under Wine.
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH="$(scripts/install-win64-deps.sh)"
#
# Libraries and packages are looked up only in CMAKE_PREFIX_PATH (the Windows libraries that
# scripts/install-win64-deps.sh builds) and in the MinGW-w64 tree, never among the host's.
# Executables are linked fully static, so a built .exe imports nothing but Windows' own DLLs.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QR_MINGW_TRIPLE}-windres)

# The prefixes given on the command line become find roots too, so that the ONLY modes below
# search them as they are instead of re-rooting them under the MinGW-w64 tree.
set(CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH} /usr/${QR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Debian's wine64 package keeps its loader out of PATH. WINEPREFIX and WINEDEBUG are left to
# whoever runs the tests.
find_program(QR_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QR_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QR_WINE64})
endif()
