# Shared part of the mingw-w64 cross toolchains: the posix thread model (std::thread,
# std::mutex), and the dependencies that scripts/setup cross-builds into
# build/deps/<triple>. Included by the per-target toolchain files with VEL_MINGW_TRIPLE set.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEL_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${VEL_MINGW_TRIPLE}-dlltool)
set(CMAKE_ASM_NASM_COMPILER nasm)
set(CMAKE_FIND_ROOT_PATH /usr/${VEL_MINGW_TRIPLE} ${CMAKE_CURRENT_LIST_DIR}/../build/deps/${VEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
