# cmake -DINPUT=FILE -DOUTPUT=FILE.cpp -DHEADER=NAME.h -DNAMESPACE=NS -DFUNCTION=NAME -P EmbedFile.cmake
#
# Writes a C++ source that defines NS::NAME() (the bytes of INPUT, followed by a
# terminating zero) and NS::NAMESize() (their count without it). The bytes are written
# as hex numbers, so any content compiles, whatever its quotes or line ends.
foreach(var INPUT OUTPUT HEADER NAMESPACE FUNCTION)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "EmbedFile.cmake needs -D${var}=...")
  endif()
endforeach()

file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line.
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)

file(WRITE "${OUTPUT}" "// Generated from ${name} by EmbedFile.cmake at build time.
#include \"${HEADER}\"

namespace ${NAMESPACE} {

namespace {
const unsigned char kBytes[${size} + 1] = {
    ${bytes}0x00};
}  // namespace

const char* ${FUNCTION}() { return reinterpret_cast<const char*>(kBytes); }
size_t ${FUNCTION}Size() { return ${size}; }

}  // namespace ${NAMESPACE}
")
