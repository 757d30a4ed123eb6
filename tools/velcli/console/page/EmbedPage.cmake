# cmake -DIN=page.html -DOUT=ConsolePageData.cpp -P EmbedPage.cmake
# Writes the page as a byte array, so that no character of it needs escaping.
file(READ "${IN}" bytes HEX)
string(LENGTH "${bytes}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," array "${bytes}")
file(WRITE "${OUT}" "// Generated from ${IN}; do not edit.\n#include \"ConsolePage.h\"\n\n"
  "namespace velcli::console {\nnamespace {\nconst char kPage[] = {${array}0};\n}\n"
  "const char* consolePage() { return kPage; }\nsize_t consolePageSize() { return ${size}; }\n}\n")
