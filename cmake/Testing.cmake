# GoogleTest for every toolchain, and the Wine fixture of the Windows builds.
find_package(GTest REQUIRED)

if(WIN32)
  # Every Windows test program runs under Wine through the cross-compiling emulator
  # (scripts/wine-run, which reads the Wine architecture from this cache entry).
  # One wineserver stays up for the whole test run; the prefix lives in the build tree.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VEL_WINE_ARCH win64 CACHE INTERNAL "Wine architecture of this build's test prefix")
  else()
    set(VEL_WINE_ARCH win32 CACHE INTERNAL "Wine architecture of this build's test prefix")
  endif()
  set(VEL_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)
  add_test(NAME wine.start COMMAND ${VEL_WINE_RUN} --start)
  add_test(NAME wine.stop COMMAND ${VEL_WINE_RUN} --stop)
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine LABELS wine TIMEOUT 180)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine LABELS wine)
endif()

# GoogleTest and the standard headers that most tests include, compiled once per build
# and reused by every test program. Its owner is an empty program, so that it is
# compiled with the flags of an executable (-fPIE), as the test programs are.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/vel_test_pch.cpp CONTENT "int main() { return 0; }\n")
add_executable(vel_test_pch ${CMAKE_BINARY_DIR}/vel_test_pch.cpp)
target_link_libraries(vel_test_pch PRIVATE GTest::gtest)
target_precompile_headers(vel_test_pch PRIVATE
  <gtest/gtest.h> <algorithm> <atomic> <chrono> <cstdint> <cstdio> <cstdlib> <cstring>
  <fstream> <functional> <memory> <mutex> <sstream> <string> <thread> <vector>)

# vel_add_test(name SOURCES ... LIBS ... [TIMEOUT s]): one test program registered as one
# CTest test. Windows test programs are labelled "wine": they need Wine to run.
function(vel_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  target_precompile_headers(${name} REUSE_FROM vel_test_pch)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine LABELS wine)
  endif()
endfunction()
