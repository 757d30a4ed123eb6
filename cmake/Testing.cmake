# GoogleTest for both toolchains, and the Wine fixture of the Windows build.
find_package(GTest REQUIRED)

if(WIN32)
  # Every Windows test program runs under Wine through the cross-compiling emulator.
  # One wineserver stays up for the whole test run; the prefix lives in the build tree.
  set(VEL_WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)
  add_test(NAME wine.start COMMAND ${VEL_WINE_RUN} --start)
  add_test(NAME wine.stop COMMAND ${VEL_WINE_RUN} --stop)
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# vel_add_test(name SOURCES ... LIBS ...): one test program registered as one CTest test.
function(vel_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()
