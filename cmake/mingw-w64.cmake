# Cross-compiling the headless system for 64-bit Windows with Debian's mingw-w64 (posix threads
# flavour, which has std::thread). Programs are linked statically, so that nothing but the system's
# own DLLs needs to sit beside them; tests run through Wine (scripts/wine-run.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VG_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VG_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VG_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VG_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VG_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
