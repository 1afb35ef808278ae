# Cross-building the Windows programs on Debian with MinGW-w64. The posix threads model is the
# one with std::thread and std::mutex; everything is linked statically, so no MinGW DLL has to
# travel beside the .exe. Test programs run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(mingw_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

# Libraries built here for MinGW (see scripts/test-windows.sh) sit beside Debian's own.
set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple} ${VANTARI_MINGW_PREFIX})
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VANTARI_MINGW_PREFIX)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Prefer the static archives (libz.a over libz.dll.a).
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
