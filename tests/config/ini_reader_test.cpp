// The INI reader's rules: line forms, values, case, duplicates, odd lines, long
// lines, numbers, and files that cannot be read.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

#include "config/IniReader.h"

namespace {

using vel::ini::Document;

std::string valueOr(const Document& d, const char* section, const char* key, const char* missing = "<missing>") {
  const std::string* v = d.find(section, key);
  return v ? *v : missing;
}

TEST(IniReader, ValueForms) {
  Document d;
  d.parse(
      "[S]\n"
      "plain = some value   \n"
      "commented=12 ; the rest is a comment\n"
      "hashed=7# also a comment\n"
      "double=\" keeps ; and # and blanks \" trailing\n"
      "single='it''s'\n"
      "unclosed=\"open to the end\n"
      "emptyDouble=\"\"\n"
      "emptySingle=''\n"
      "nothing=\n"
      "onlyComment= ; nothing before it\n"
      "equals=a=b\n"
      "  indented key  =  v  \n");
  EXPECT_EQ(valueOr(d, "S", "plain"), "some value");
  EXPECT_EQ(valueOr(d, "S", "commented"), "12");
  EXPECT_EQ(valueOr(d, "S", "hashed"), "7");
  EXPECT_EQ(valueOr(d, "S", "double"), " keeps ; and # and blanks ");
  EXPECT_EQ(valueOr(d, "S", "single"), "it");
  EXPECT_EQ(valueOr(d, "S", "unclosed"), "open to the end");
  EXPECT_EQ(valueOr(d, "S", "emptyDouble"), "");
  EXPECT_EQ(valueOr(d, "S", "emptySingle"), "");
  EXPECT_EQ(valueOr(d, "S", "nothing"), "");
  EXPECT_EQ(valueOr(d, "S", "onlyComment"), "");
  EXPECT_EQ(valueOr(d, "S", "equals"), "a=b");
  EXPECT_EQ(valueOr(d, "S", "indented key"), "v");
}

TEST(IniReader, SectionsCaseAndDuplicates) {
  Document d;
  d.parse(
      "top=before any section\n"
      "[ First ]\n"
      "Key=1\n"
      "KEY=2\n"
      "[second]\r\n"
      "key=3\r\n"
      "[FIRST]\n"
      "other=4\n");
  EXPECT_EQ(valueOr(d, "first", "key"), "2");  // the later line wins
  EXPECT_EQ(valueOr(d, "FiRsT", "OTHER"), "4");
  EXPECT_EQ(valueOr(d, "Second", "Key"), "3");  // CR LF line ends
  EXPECT_EQ(valueOr(d, "", "top"), "before any section");
  EXPECT_EQ(d.find("second", "other"), nullptr);
}

TEST(IniReader, OddLinesAreIgnoredAndTheRestIsRead) {
  static const char kText[] =
      "[S]\n"
      "; comment=1\n"
      "# comment=2\n"
      "a line without an equals sign\n"
      "=no key\n"
      "[unclosed section\n"
      "folder=.\\\n"
      "next=5\n"
      "with\0nul=6\n"
      "last=7";
  Document d;
  d.parse(std::string_view(kText, sizeof kText - 1));
  EXPECT_EQ(d.find("S", "; comment"), nullptr);
  EXPECT_EQ(d.find("S", "# comment"), nullptr);
  EXPECT_EQ(valueOr(d, "S", "folder"), ".\\");  // a trailing backslash does not join lines
  EXPECT_EQ(valueOr(d, "S", "next"), "5");
  EXPECT_EQ(valueOr(d, "S", "last"), "7");  // no line end after the last line
  EXPECT_EQ(d.find("S", "with"), nullptr);  // the line ends at its NUL
}

TEST(IniReader, LongLinesAreCutAndTheirRestSkipped) {
  const std::string value(vel::ini::kLineChars - 2, 'v');  // "k=" + value fills the line
  Document d;
  d.parse("[S]\nk=" + value + "EXTRA=1\nnext=2\n");
  EXPECT_EQ(valueOr(d, "S", "k"), value);
  EXPECT_EQ(d.find("S", "EXTRA"), nullptr);
  EXPECT_EQ(d.find("S", "vEXTRA"), nullptr);
  EXPECT_EQ(valueOr(d, "S", "next"), "2");
}

TEST(IniReader, NumbersInTheMannerOfAtoi) {
  using vel::ini::number;
  EXPECT_EQ(number("42"), 42);
  EXPECT_EQ(number("042"), 42);  // decimal, not octal
  EXPECT_EQ(number("0x10"), 0);
  EXPECT_EQ(number("  -12abc"), -12);
  EXPECT_EQ(number("+7"), 7);
  EXPECT_EQ(number("abc"), 0);
  EXPECT_EQ(number(""), 0);
  EXPECT_EQ(number("- 5"), 0);
  EXPECT_EQ(number("2147483647"), INT_MAX);
  EXPECT_EQ(number("-2147483648"), INT_MIN);
  EXPECT_EQ(number("99999999999999999999"), INT_MAX);
  EXPECT_EQ(number("-99999999999999999999"), INT_MIN);

  Document d;
  d.parse("[S]\nn=65536\n");
  EXPECT_EQ(d.number("S", "n", -1), 65536);
  EXPECT_EQ(d.number("S", "missing", -1), -1);
}

TEST(IniReader, FileThatCannotBeReadLeavesTheDocument) {
  Document d;
  d.parse("[S]\nkept=1\n");
  EXPECT_FALSE(d.load("no-such-directory/no-such-file.ini"));
  EXPECT_FALSE(d.load(nullptr));
  EXPECT_EQ(valueOr(d, "S", "kept"), "1");

  const char* path = "ini_reader_test.ini";
  std::FILE* f = std::fopen(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("[S]\r\nread=2\r\n", f);
  std::fclose(f);
  ASSERT_TRUE(d.load(path));
  EXPECT_EQ(valueOr(d, "S", "read"), "2");
  EXPECT_EQ(d.find("S", "kept"), nullptr);  // the file replaces what was held
  std::remove(path);
}

}  // namespace
