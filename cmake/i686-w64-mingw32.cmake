# Cross build for 32-bit Windows (the product's interface is 32-bit).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VEL_MINGW_TRIPLE i686-w64-mingw32)
# SSE2, which every Windows from 8 on requires, for the vector paths (the colour rows)
# and for floating point in double precision as on x86-64 (not the x87's extended one).
# Windows keeps only 4-byte stack alignment on entry into threads and callbacks:
# functions that keep vectors on the stack realign it (GCC's default with SSE on this
# target, named here so that it holds whatever the default). Flags of a build tree are
# taken when it is first configured (and by the dependencies scripts/setup builds).
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
