# Cross build for 64-bit Windows with MinGW-w64, from the same sources: it
# runs under 64-bit Wine on every machine, also where no 32-bit program can.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TW_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
