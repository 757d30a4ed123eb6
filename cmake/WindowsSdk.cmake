# The Windows SDK: the install tree of one architecture below x86/ or x64/ (binaries in
# bin/, import libraries, the module definition and the CMake package in lib/), the
# header in include/, the guide as HTML in docs/ and the examples in examples/; and
# `make package`, one archive of both architectures (scripts/package builds the win32
# tree first, then runs cpack with this tree's configuration).
install(TARGETS velcli velsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# What the DLL exports by name and ordinal, for a toolchain's own librarian.
install(FILES ${PROJECT_BINARY_DIR}/imgengine/ImgEngine.def DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples)
# The velsim scenes the simulated imager photographs (velcli --simulate, velsim --scene).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/sim/scenes/ DESTINATION scenes)

# The guide in HTML (GitHub-flavoured Markdown through cmark-gfm), with its pictures.
find_program(VEL_CMARK cmark-gfm)
if(VEL_CMARK)
  set(vel_guide_html ${PROJECT_BINARY_DIR}/docs/guide.html)
  add_custom_command(OUTPUT ${vel_guide_html}
    COMMAND ${CMAKE_COMMAND} -DCMARK=${VEL_CMARK} -DINPUT=${PROJECT_SOURCE_DIR}/docs/guide.md
            -DOUTPUT=${vel_guide_html} -P ${PROJECT_SOURCE_DIR}/cmake/GuideHtml.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/guide.md ${PROJECT_SOURCE_DIR}/cmake/GuideHtml.cmake
    COMMENT "The guide as HTML")
  add_custom_target(guide_html ALL DEPENDS ${vel_guide_html})
  install(FILES ${vel_guide_html} ${PROJECT_SOURCE_DIR}/docs/keycaster-dialog.png DESTINATION docs)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/images DESTINATION docs)
endif()

if(NOT VEL_SDK_ARCH STREQUAL "x64")
  return()
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ImgEngine)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME ImgEngine-${PROJECT_VERSION}-windows)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_SOURCE_DIR}/build/package)
# Both architectures' install trees in one archive: the 32-bit tree beside this one.
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${PROJECT_SOURCE_DIR}/build/win32;ImgEngine;ALL;/" "${PROJECT_BINARY_DIR};ImgEngine;ALL;/")
include(CPack)
