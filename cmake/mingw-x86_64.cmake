# Cross build of the Windows program as a 64-bit program, for machines whose Wine cannot run
# 32-bit programs (see scripts/wine-arch.sh): the same tree as cmake/mingw-i686.cmake builds,
# tested under wine64. mingw-w64 with posix threads, everything linked statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# /usr/bin/wine starts the 32-bit loader whenever wine32 is installed; name wine64 itself.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
