# SPDX-License-Identifier: Apache-2.0
# Cross-building for 64-bit Windows on Debian with mingw-w64 (posix threads).
# The programs link libgcc and libstdc++ statically so each .exe runs alone.
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

# Tests run under Wine when it is there.
find_program(LMSVIEW_WINE wine)
if(LMSVIEW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LMSVIEW_WINE})
endif()
