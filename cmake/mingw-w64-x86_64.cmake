# Cross-compiles the Windows build with Debian's mingw-w64 (64-bit, POSIX thread model, so that
# std::thread and std::mutex are there). The programs are linked statically against libstdc++,
# libgcc and winpthreads, so that each .exe runs alone, without the compiler's DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QS_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QS_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QS_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QS_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QS_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The test programs run under Wine, through a script that gives them a scratch prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
