#include "platform/ini_file.h"

#include <gtest/gtest.h>

#include <string>

#include "platform_test_support.h"

namespace kx8::platform {
namespace {

using test_support::TempFolder;

TEST(IniFileTest, MissingFileGivesEmptyOrTheDefault) {
  TempFolder folder;
  const IniFile ini(folder.WindowsRoot() + "KELPA.ini");
  EXPECT_EQ(ini.ReadString("PATH", "DIR"), "");
  EXPECT_EQ(ini.ReadString("PATH", "DIR", "fallback"), "fallback");
  EXPECT_EQ(ReadIniString(folder.WindowsRoot() + "NOFOLDER\\KELPA.ini", "PATH", "DIR"), "");

  // A folder where the file should be is no file either.
  folder.MakeFolder("kelpa.ini");
  EXPECT_EQ(ini.ReadString("PATH", "DIR"), "");
}

TEST(IniFileTest, ReadsValuesByTheWindowsRules) {
  TempFolder folder;
  const std::string long_value(300, 'x');
  // Stored as "kelpa.INI", read as "KELPA.ini": found without regard to case.
  folder.Write("kelpa.INI",
               "; written by hand\n"
               "[PATH]\n"
               "DIR = D:\\DATA\\   \n"
               "dictionary=YES\n"
               "Quoted = \"  spaced value  \"\n"
               "Single='x'\n"
               "Mismatched=\"abc'\n"
               "Lone=\"\n"
               "Semicolon = a ; b\n"
               "Hash=#1\n"
               "Colon:Key=v\n"
               "   Indented=yes\n"
               "Empty=\n"
               "Equals=a=b\n"
               "NoValueLine\n"
               "Long=" + long_value + "\n"
               "\n"
               "[path]\n"
               "DIR=second\n"
               "Later=from the repeated section\n"
               "[SETTING]\n"
               "SERVERTYPE=LOCAL\n"
               "[ Spaced ]\n"
               "Key=v2\n");
  const IniFile ini(folder.WindowsRoot() + "KELPA.ini");

  struct Case {
    const char* section;
    const char* key;
    std::string expected;
  };
  const Case cases[] = {
      {"PATH", "DIR", "D:\\DATA\\"},  // blanks dropped; the first of two wins
      {"path", "dir", "D:\\DATA\\"},
      {"PATH", "DICTIONARY", "YES"},
      {"Path", "Dictionary", "YES"},
      {"PATH", "Quoted", "  spaced value  "},  // quotes dropped, blanks inside kept
      {"PATH", "Single", "x"},
      {"PATH", "Mismatched", "\"abc'"},
      {"PATH", "Lone", "\""},
      {"PATH", "Semicolon", "a ; b"},  // no inline comments
      {"PATH", "Hash", "#1"},
      {"PATH", "Colon:Key", "v"},  // only "=" separates
      {"PATH", "Colon", ""},
      {"PATH", "Indented", "yes"},  // no continuation lines
      {"PATH", "Equals", "a=b"},
      {"PATH", "Long", long_value},  // no length limit
      {"PATH", "Later", "from the repeated section"},
      {"SETTING", "SERVERTYPE", "LOCAL"},
      {"Spaced", "KEY", "v2"},
      {"PATH", "SERVERTYPE", ""},
      {"PATH", "Missing", ""},
      {"NOSECTION", "DIR", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ini.ReadString(c.section, c.key), c.expected) << "[" << c.section << "] " << c.key;
  }

  // A key that is there with an empty value is not missing.
  EXPECT_EQ(ini.ReadString("PATH", "Empty", "fallback"), "");
  EXPECT_EQ(ini.ReadString("PATH", "NoValueLine", "fallback"), "fallback");
}

TEST(IniFileTest, ByteOrderMarkAndCarriageReturnsAreNotPartOfTheText) {
  TempFolder folder;
  folder.Write("KELPA.ini", "\xEF\xBB\xBF[PATH]\r\nDIR=D:\\X\\\r\nDICTIONARY=YES\r\n");
  const IniFile ini(folder.WindowsRoot() + "KELPA.ini");
  EXPECT_EQ(ini.ReadString("PATH", "DIR"), "D:\\X\\");
  EXPECT_EQ(ini.ReadString("PATH", "DICTIONARY"), "YES");
}

TEST(IniFileTest, EachReadSeesTheFileAsItIsNow) {
  TempFolder folder;
  const IniFile ini(folder.WindowsRoot() + "KELPA.ini");
  folder.Write("KELPA.ini", "[PATH]\nDIR=first\n");
  EXPECT_EQ(ini.ReadString("PATH", "DIR"), "first");
  folder.Write("KELPA.ini", "[PATH]\nDIR=second\n");
  EXPECT_EQ(ini.ReadString("PATH", "DIR"), "second");
}

}  // namespace
}  // namespace kx8::platform
