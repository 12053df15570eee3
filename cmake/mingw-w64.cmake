# Cross-compiles the Windows build with Debian's mingw-w64 (the posix thread model, which has
# std::thread and std::mutex), linked statically so that the programs need no DLLs, and runs
# the test programs through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Wine's symbol reader knows DWARF up to version 4; GCC 12 writes 5 by default.
set(CMAKE_CXX_FLAGS_INIT "-gdwarf-4")
set(CMAKE_C_FLAGS_INIT "-gdwarf-4")

find_program(TROVEX_WINE NAMES wine64 wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TROVEX_WINE})

# The build's own files seen from inside Wine: the Unix root is drive Z:.
set(TROVEX_HOST_DRIVE "Z:")
# GoogleTest is built from source with this compiler.
set(TROVEX_GTEST_SOURCE /usr/src/googletest)
