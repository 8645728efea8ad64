# The 32-bit Windows product (PE32).
set(ZAN_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
