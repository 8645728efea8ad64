# The 64-bit Windows build (PE32+), tested where 32-bit programs cannot run.
set(ZAN_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
