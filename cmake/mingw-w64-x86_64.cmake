# Cross build for 64-bit Windows with MinGW-w64: the same program, runnable
# under Wine on a 64-bit-only Linux kernel.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(toolchain_prefix x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
