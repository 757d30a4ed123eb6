// Text from the imager and the library as UTF-8, the one form JSON carries. The
// imager's strings (versions, firmware, barcode data) and the library's (type names)
// are bytes of no declared encoding; they are read as Latin-1, so that every byte
// becomes one character and reads back.
#pragma once

#include <cstddef>
#include <string>

namespace velcli {

// Each byte as the Latin-1 character of its value, in UTF-8.
std::string latin1ToUtf8(const unsigned char* data, size_t length);
std::string latin1ToUtf8(const std::string& bytes);
// Text that is well-formed UTF-8 (shortest forms, no surrogates, at most U+10FFFF) as it
// is; otherwise each byte outside a well-formed sequence as its Latin-1 character. For
// text of unknown encoding that is usually UTF-8 already (paths, arguments).
std::string utf8OrLatin1(const std::string& text);
// A..Z as a..z, every other byte as it is (header names, INI keys).
std::string asciiLower(std::string text);
// "0x0000ABCD"
std::string hex(unsigned int v);

}  // namespace velcli
