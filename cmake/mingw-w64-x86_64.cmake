# Cross-building the Windows x64 DLL on Linux with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# Programs built here run under Wine (cmake/wine-run.sh) when ctest or gtest discovery needs them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVELAN380_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex come from winpthreads, linked statically.
set(CMAKE_C_COMPILER ${KORVELAN380_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVELAN380_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KORVELAN380_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${KORVELAN380_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${KORVELAN380_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVELAN380_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
