# Cross build for 64-bit Windows with Debian's MinGW-w64 (package g++-mingw-w64-x86-64-posix).
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DRTUTEST_BUILD_APP=OFF -DRTUTEST_BUILD_BENCH=OFF -DRTUTEST_BUILD_SIM=OFF
#
# The posix-thread variant of the compiler is used because the win32-thread variant has no
# std::thread. Programs are linked statically (libgcc, libstdc++, winpthread), so they run
# without any MinGW DLL next to them, under Wine as on Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(RTUTEST_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${RTUTEST_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${RTUTEST_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${RTUTEST_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only; programs from the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${RTUTEST_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
