# Cross-build for 64-bit Windows with the mingw-w64 GCC toolchain
# (Debian: g++-mingw-w64-x86-64). Produces plenvo.dll, its import library
# libplenvo.dll.a and, when the command-line program is built, plenvo.exe.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DPLENVO_BUILD_TESTS=OFF -DPLENVO_BUILD_BENCH=OFF
#
# Every binary links libgcc, libstdc++ and winpthread statically, so it needs
# no DLL beyond the ones Windows itself ships (KERNEL32.dll, msvcrt.dll).
# Set MINGW_TRIPLET to use a differently named toolchain.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

if(NOT DEFINED MINGW_TRIPLET)
  set(MINGW_TRIPLET x86_64-w64-mingw32)
endif()

# The posix thread model first: the command-line program asks std::thread how
# many cores there are (for -j), and Debian's plain names point at the win32
# model, whose libstdc++ lacks std::thread in GCC 12. The library uses none.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLET}-gcc-posix ${MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLET}-g++-posix ${MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLET}-windres)

# Headers and libraries come from the target's sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained binaries: no libgcc_s_seh-1.dll, libstdc++-6.dll or libwinpthread-1.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
# Release binaries carry no symbols (the static runtime's debug sections double the size).
foreach(config RELEASE MINSIZEREL)
  set(CMAKE_EXE_LINKER_FLAGS_${config}_INIT "-s")
  set(CMAKE_SHARED_LINKER_FLAGS_${config}_INIT "-s")
endforeach()
