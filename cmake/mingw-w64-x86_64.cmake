# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64,
# libz-mingw-w64-dev). Use:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DPLUMERIA_GUI=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# Windows 7 is the oldest system the seams are written for (CancelIoEx, GetTickCount64,
# non-inheritable sockets).
set(CMAKE_SYSTEM_VERSION 6.1)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
# The POSIX thread model gives std::thread, std::mutex and std::condition_variable; the win32 model
# of this compiler version has none of them.
find_program(CMAKE_C_COMPILER NAMES ${TOOLCHAIN_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TOOLCHAIN_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TOOLCHAIN_PREFIX}-windres)

# Libraries and headers come from the cross sysroot only (zlib: libz-mingw-w64-dev), never from
# the build machine; programs (the compilers, Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Link the C and C++ runtimes and winpthreads statically: the programs run without any MinGW DLL
# beside them (on a user's machine and under Wine alike).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The same for zlib: libz.a, not the import library of zlib1.dll.
set(ZLIB_USE_STATIC_LIBS ON)

# Wine runs the test programs (ctest and gtest use this emulator). Debian installs the 64-bit
# loader as /usr/lib/wine/wine64; `wine` picks it too when wine32 is not installed.
find_program(PLUMERIA_WINE NAMES wine64 wine HINTS /usr/lib/wine)
if(PLUMERIA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PLUMERIA_WINE})
endif()
