# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads, so that
# std::thread and std::mutex work), with the C and C++ runtimes linked in statically: the
# modules and programs need no mingw DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(AURALINK_MINGW_PREFIX x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${AURALINK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AURALINK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${AURALINK_MINGW_PREFIX}-windres)
set(AURALINK_WIDL ${AURALINK_MINGW_PREFIX}-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${AURALINK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A static library found by path (odbc32) must not switch the rest of the link line, the
# C++ runtime included, back to the DLLs.
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# Wine runs the check programs of the build.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
