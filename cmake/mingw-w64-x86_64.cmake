# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (the POSIX
# threads flavour, whose C++ library has std::thread and friends).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The programs are linked statically, so they need nothing but the DLLs that
# come with Windows. When Wine is installed, test programs run under it (a
# Wine prefix of the build's own, quiet, without the Mono and Gecko prompts),
# so GoogleTest's test discovery and ctest work as in a native build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QK_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QK_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(QK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QK_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
        ${QK_WINE})
endif()
