# vel_arch_def(input output): a module definition file for this target's architecture.
# The files in the tree name 32-bit __stdcall symbols ("name@bytes"); 64-bit symbols
# carry no suffix, so it is dropped there. Ordinals ("@n" after a space) stay.
function(vel_arch_def input output)
  file(READ ${input} text)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    string(REGEX REPLACE "([A-Za-z0-9_])@[0-9]+" "\\1" text "${text}")
  endif()
  set(old "")
  if(EXISTS ${output})
    file(READ ${output} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${output} "${text}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${input})
endfunction()
