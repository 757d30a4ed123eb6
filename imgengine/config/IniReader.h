// The reader of configuration files: INI text read by one set of rules on every
// target. Lines count up to 1023 characters (the rest of a longer line is
// skipped); blank lines and lines starting with ";" or "#" are comments; "[name]"
// starts a section; an entry is key "=" value, the value in double quotes, in
// single quotes, or bare up to an inline ";" or "#" without its trailing blanks
// (a bare "" or '' is the empty text). Section names and keys are compared
// without regard to case, a later duplicate wins, and any other line is ignored:
// one odd line never costs the rest of the file, and a line ending in a
// backslash is not joined to the next.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace vel::ini {

constexpr size_t kLineChars = 1023;

class Document {
 public:
  // Reads the file in place of what the document held; false when it cannot be
  // opened or read, and the document is then left as it was.
  bool load(const char* path);
  // Adds the entries of the text, line by line.
  void parse(std::string_view text);

  // The value of key in section, or null when the file does not carry it.
  const std::string* find(std::string_view section, std::string_view key) const;
  // The value read as a number (number()), or fallback when the key is missing.
  int number(std::string_view section, std::string_view key, int fallback) const;

 private:
  void parseLine(std::string_view line);

  std::string section_;
  std::map<std::string, std::string> entries_;  // "section:key", lower case
};

// The blanks that lines, keys and bare values lose at their ends.
bool blank(char c);

// Decimal in the manner of atoi: leading blanks, an optional sign, digits; the
// rest is ignored and text without digits is 0. Out of the int range it stays at
// the nearest end.
int number(std::string_view text);

}  // namespace vel::ini
