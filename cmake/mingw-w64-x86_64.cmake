# Cross-building for Windows x64 with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=<a Qt built for MinGW, e.g. by scripts/windows/build-qt>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RZ_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex need it with this GCC.
set(CMAKE_C_COMPILER ${RZ_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RZ_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${RZ_MINGW_TRIPLET}-windres)

# Packages, libraries and headers come from mingw-w64 and from the prefixes
# named in CMAKE_PREFIX_PATH (a Qt built for Windows), never from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${RZ_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine (Debian's wine64).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
