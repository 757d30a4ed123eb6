# Install rules of ImgEngine and the files that let other projects find it:
#   find_package(ImgEngine)  -> ImgEngine::ImgEngine (and on Windows ImgEngine::ByOrdinal)
#   pkg-config imgengine
# Included by imgengine/CMakeLists.txt after the library targets are defined; reads
# vel_generated_include and, on Windows, vel_ordinal_lib from there.
include(CMakePackageConfigHelpers)

set(vel_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/ImgEngine)

install(TARGETS ImgEngine EXPORT ImgEngineTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/imgengine/include/ImgEngine.h ${vel_generated_include}/ImgEngineVersion.h
  ${PROJECT_SOURCE_DIR}/imgengine/include/ImgEngineTrace.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
set(VEL_BY_ORDINAL_IMPLIB "")
if(WIN32)
  # The import library for programs that bind ImgEngine.dll by ordinal only.
  install(FILES ${vel_ordinal_lib} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  get_filename_component(vel_ordinal_name ${vel_ordinal_lib} NAME)
  set(VEL_BY_ORDINAL_IMPLIB ${CMAKE_INSTALL_LIBDIR}/${vel_ordinal_name})
endif()

install(EXPORT ImgEngineTargets NAMESPACE ImgEngine:: DESTINATION ${vel_cmake_dir})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/ImgEngineConfig.cmake.in
  ${PROJECT_BINARY_DIR}/ImgEngineConfig.cmake
  INSTALL_DESTINATION ${vel_cmake_dir})
# A program built against 10.x runs with any later 10.x; the version file also refuses a
# library of the other pointer size.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ImgEngineConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ImgEngineConfig.cmake ${PROJECT_BINARY_DIR}/ImgEngineConfigVersion.cmake
  DESTINATION ${vel_cmake_dir})

# The .pc file finds the prefix from its own folder, so an installed tree can be moved.
file(RELATIVE_PATH VEL_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" VEL_PC_TO_PREFIX "${VEL_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/imgengine.pc.in ${PROJECT_BINARY_DIR}/imgengine.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/imgengine.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
