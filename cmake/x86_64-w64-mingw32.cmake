# Cross build for 64-bit Windows: the same DLL, application and stand-ins for x64 programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VEL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
