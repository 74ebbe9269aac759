# Cross build for 32-bit Windows with the posix-thread MinGW-w64 compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KV_TRIPLET i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KV_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# 32-bit Windows programs run under 32-bit Wine: natively, or through qemu-user
# where the kernel refuses i386 code (scripts/setup-win32).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run32)
