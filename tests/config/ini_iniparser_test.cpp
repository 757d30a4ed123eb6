// Our INI reader held to Debian's iniparser 4.1: on well-formed files, the files
// the library writes among them, both read every entry to the same text and the
// same decimal numbers. The malformed cases where they differ are pinned below,
// each with the reason ours reads differently.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/ConfigurationFile.h"
#include "config/IniReader.h"

extern "C" {
#include <iniparser/iniparser.h>
}

namespace {

int quiet(const char*, ...) { return 0; }

class IniParserComparison : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { iniparser_set_error_callback(quiet); }
  void TearDown() override { std::remove(kPath); }

  static void writeFile(const std::string& text) {
    std::FILE* f = std::fopen(kPath, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), f), text.size());
    std::fclose(f);
  }

  // Every entry iniparser found, compared with ours; answers the number compared.
  static int expectSameEntries(const std::string& text) {
    writeFile(text);
    dictionary* theirs = iniparser_load(kPath);
    EXPECT_NE(theirs, nullptr) << text;
    if (!theirs) return 0;
    vel::ini::Document ours;
    EXPECT_TRUE(ours.load(kPath));
    int compared = 0;
    for (int s = 0; s < iniparser_getnsec(theirs); ++s) {
      const char* section = iniparser_getsecname(theirs, s);
      std::vector<const char*> keys(static_cast<size_t>(iniparser_getsecnkeys(theirs, section)));
      if (keys.empty()) continue;
      iniparser_getseckeys(theirs, section, keys.data());
      for (const char* full : keys) {
        const std::string key = std::string(full).substr(std::string(section).size() + 1);
        const char* value = iniparser_getstring(theirs, full, nullptr);
        const std::string* mine = ours.find(section, key);
        EXPECT_TRUE(mine && value && *mine == value) << full << ": theirs '" << (value ? value : "(null)")
                                                     << "', ours '" << (mine ? *mine : "(missing)") << "'";
        // Decimal numbers without a leading zero read alike (iniparser reads base 0).
        if (value && value[0] != '0') {
          EXPECT_EQ(ours.number(section, key, -7), iniparser_getint(theirs, full, -7)) << full;
        }
        ++compared;
      }
    }
    iniparser_freedict(theirs);
    return compared;
  }

  static constexpr const char* kPath = "ini_iniparser_test.ini";
};

TEST_F(IniParserComparison, WellFormedFilesReadAlike) {
  const char* corpus[] = {
      "[ConfigDescriptor]\nComments=\n[CorvidConfig]\nWindowX=0\nWindowY=12\nThresholdBias=-5\n",
      "; a comment\n# another\n\n[Section]\n  Indented = 1\nspaced   =   two words   \n"
      "inline=3 ; comment\nhashed=4 # comment\n",
      "[Quotes]\nd=\"a ; b # c\"\ns='single quoted'\nblank=\"  padded  \"\nemptyD=\"\"\nemptyS=''\nnothing=\n",
      "[Case]\nMixedKey=1\nMIXEDKEY=2\n[case]\nlater=3\n",
      "[Windows]\r\nCrLf=1\r\npath=C:\\Images\\Saved\r\nfolder=.\r\n",
      "[Numbers]\nneg=-12\nplus=+4\nlarge=65535\nmixed=12abc\nword=abc\n",
  };
  for (const char* text : corpus) EXPECT_GT(expectSameEntries(text), 0) << text;
}

TEST_F(IniParserComparison, FilesTheLibraryWritesReadAlike) {
  vel::DeviceConfiguration record;
  vel::ApplyFactoryDefaults(record);
  vel::configfile::HostValues host;
  EXPECT_GT(expectSameEntries(vel::configfile::text(record, host)), 100);

  record.thresholdBias = -100;
  record.hsvHueAdjust = -300;
  record.windowX = 65535;
  host = {1, "D:\\scans; #2 \\", 1, 1};  // written quoted
  EXPECT_GT(expectSameEntries(vel::configfile::text(record, host)), 100);
}

// Malformed files: where iniparser would hurt a user, ours reads on.
TEST_F(IniParserComparison, WhereTheReadersDiffer) {
  // A line ending in a backslash: iniparser joins the next line to it, so a
  // folder written with its trailing backslash swallows the key after it.
  writeFile("[H]\nfolder=.\\\nnext=1\n");
  dictionary* theirs = iniparser_load(kPath);
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(iniparser_getstring(theirs, "h:next", nullptr), nullptr);
  iniparser_freedict(theirs);
  vel::ini::Document ours;
  ASSERT_TRUE(ours.load(kPath));
  EXPECT_EQ(*ours.find("H", "folder"), ".\\");
  EXPECT_EQ(ours.number("H", "next", 0), 1);

  // One line that fits no form: iniparser refuses the whole file.
  for (const char* odd : {"[S]\nkey=1\nstray words\n", "[S] ; comment\nkey=1\n", "[S]\n=1\nkey=1\n"}) {
    writeFile(odd);
    EXPECT_EQ(iniparser_load(kPath), nullptr) << odd;
    ASSERT_TRUE(ours.load(kPath));
    EXPECT_EQ(ours.number("S", "key", 0), 1) << odd;
  }

  // A line longer than 1023 characters: iniparser refuses the file; ours cuts
  // the line and reads on.
  writeFile("[S]\nlong=" + std::string(2000, 'x') + "\nkey=1\n");
  EXPECT_EQ(iniparser_load(kPath), nullptr);
  ASSERT_TRUE(ours.load(kPath));
  EXPECT_EQ(ours.number("S", "key", 0), 1);
  EXPECT_EQ(ours.find("S", "long")->size(), vel::ini::kLineChars - 5);

  // Numbers: iniparser reads base 0, so a leading zero means octal.
  writeFile("[S]\nn=042\nh=0x10\n");
  theirs = iniparser_load(kPath);
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(iniparser_getint(theirs, "s:n", -1), 34);
  EXPECT_EQ(iniparser_getint(theirs, "s:h", -1), 16);
  iniparser_freedict(theirs);
  ASSERT_TRUE(ours.load(kPath));
  EXPECT_EQ(ours.number("S", "n", -1), 42);
  EXPECT_EQ(ours.number("S", "h", -1), 0);
}

}  // namespace
