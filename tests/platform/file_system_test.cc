#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/locale_info.h"
#include "platform_test_support.h"
#include "support/helpers.h"

namespace kx8::platform {
namespace {

using test_support::ScopedEnv;
using test_support::TempFolder;

// A root folder whose company folder is spelt "Company" on disk:
//   Company/ACME.OLD/IN.KDT    a folder with a "." and a table inside
//   Company/acme/              a lower-case company folder
//   Company/BETA/
//   Company/README             a plain file without an extension
//   Company/EMPLOYEE.KDT, Company/employee.kdi, Company/X.KDT.BAK,
//   Company/NOTES.~TXT, Company/TEMP_X.KDT, Company/TEMPLATE.KDT
class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("Company/ACME.OLD/IN.KDT", "t");
    folder_.MakeFolder("Company/acme");
    folder_.MakeFolder("Company/BETA");
    folder_.Write("Company/README", "hello");
    for (const char* name :
         {"EMPLOYEE.KDT", "employee.kdi", "X.KDT.BAK", "NOTES.~TXT", "TEMP_X.KDT", "TEMPLATE.KDT"}) {
      folder_.Write(std::string("Company/") + name, "data");
    }
  }

  std::string Root() const { return folder_.WindowsRoot(); }

  static std::vector<std::string> Names(const std::vector<FoundEntry>& entries) {
    std::vector<std::string> names;
    for (const FoundEntry& entry : entries) names.push_back(entry.name);
    return names;
  }

  TempFolder folder_;
};

TEST_F(FileSystemTest, FindsEntriesByMaskInNameOrder) {
  using NameList = std::vector<std::string>;
  constexpr FindAttr kFiles = FindAttr::Files;
  constexpr FindAttr kBoth = FindAttr::FilesAndDirectories;
  struct Case {
    const char* mask;  // appended to the root
    FindAttr attributes;
    NameList expected;
  };
  const Case cases[] = {
      // Asking for folders brings the plain files too.
      {"COMPANY\\*.*", kBoth,
       {"acme", "ACME.OLD", "BETA", "employee.kdi", "EMPLOYEE.KDT", "NOTES.~TXT", "README",
        "TEMPLATE.KDT", "TEMP_X.KDT", "X.KDT.BAK"}},
      {"company/*.*", kFiles,
       {"employee.kdi", "EMPLOYEE.KDT", "NOTES.~TXT", "README", "TEMPLATE.KDT", "TEMP_X.KDT",
        "X.KDT.BAK"}},
      {"COMPANY\\*", kBoth,
       {"acme", "ACME.OLD", "BETA", "employee.kdi", "EMPLOYEE.KDT", "NOTES.~TXT", "README",
        "TEMPLATE.KDT", "TEMP_X.KDT", "X.KDT.BAK"}},
      // Not recursive; a further extension does not match.
      {"COMPANY\\*.kdt", kBoth, {"EMPLOYEE.KDT", "TEMPLATE.KDT", "TEMP_X.KDT"}},
      {"COMPANY\\*.KDI", kFiles, {"employee.kdi"}},
      {"COMPANY\\*.kdm", kFiles, {}},
      {"COMPANY\\*.BAK", kFiles, {"X.KDT.BAK"}},
      {"COMPANY\\*.~*", kFiles, {"NOTES.~TXT"}},
      {"COMPANY\\TEMP_*.*", kFiles, {"TEMP_X.KDT"}},
      {"COMPANY\\TEMP*.KDT", kFiles, {"TEMPLATE.KDT", "TEMP_X.KDT"}},
      {"COMPANY\\?CME", kBoth, {"acme"}},
      {"COMPANY\\?CME", kFiles, {}},
      {"COMPANY\\ACME????", kBoth, {"acme"}},
      {"COMPANY\\ACME.???", kBoth, {"acme", "ACME.OLD"}},  // "." before "?" may end the name
      {"COMPANY\\*.", kBoth, {"acme", "BETA", "README"}},
      {"COMPANY\\readme", kFiles, {"README"}},
      {"COMPANY\\ACME.OLD\\*.KDT", kFiles, {"IN.KDT"}},
      {"MISSING\\*.*", kBoth, {}},
      {"COMPANY\\README\\*.*", kBoth, {}},
      {"COMPANY\\", kBoth, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Names(FindEntries(Root() + c.mask, c.attributes)), c.expected) << "mask " << c.mask;
  }
}

TEST_F(FileSystemTest, ReportsKindSizeAndModifiedTime) {
  ScopedEnv zone("TZ", "SGT-8");
  // 17 September 2009, 22:05:07 UTC: 18 September, 06:05:07 in Singapore.
  const timespec times[2] = {{1253225107, 0}, {1253225107, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (folder_.path() / "Company/README").c_str(), times, 0), 0);

  const std::vector<FoundEntry> entries = FindEntries(Root() + "COMPANY\\*.", FindAttr::FilesAndDirectories);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].is_directory);
  EXPECT_EQ(entries[0].size, 0u);
  EXPECT_FALSE(entries[2].is_directory);
  EXPECT_EQ(entries[2].size, 5u);
  EXPECT_DOUBLE_EQ(entries[2].modified,
                   support::EncodeDate(2009, 9, 18) + (6 * 3600 + 5 * 60 + 7) / 86400.0);
  EXPECT_EQ(FileModifiedDate(Root() + "company\\readme"), entries[2].modified);
  EXPECT_EQ(FileModifiedDate(Root() + "company\\missing"), std::nullopt);
}

TEST(MaskTest, FollowsTheWindowsWildcardRules) {
  struct Case {
    const char* pattern;
    const char* name;
    bool matches;
  };
  const Case cases[] = {
      {"*.*", "README", true},          {"*.*", "A.B.C", true},
      {"*.*", ".profile", true},        {"*", "X.KDT", true},
      {"*.kdt", "employee.KDT", true},  {"*.kdt", "X.KDT.BAK", false},
      {"*.kdt", "X.KDTX", false},       {"*.kdt", "A.B.KDT", true},
      {"*.", "README", true},           {"*.", "X.KDT", false},
      {"*.KD?", "X.KD", true},          {"*.KD?", "X.KDM", true},
      {"*.KD?", "X.KDMX", false},       {"??.KDT", "A.KDT", true},
      {"A?ME", "ACME", true},           {"A?ME", "AME", false},
      {"ACME????", "ACME", true},       {"ACME????", "ACME.OLD", false},
      {"ACME.*", "ACME", true},         {"ACME.*", "ACMEX", false},
      {"TEMP_*", "TEMP_X.KDT", true},   {"TEMP_*.*", "TEMP_X", true},
      {"TEMP_*.*", "TEMPLATE.KDT", false},
      {"*.b*", "a.b.c", true},          {"a*b", "aXXb", true},
      {"a*b", "aXXbc", false},          {"EMPLOYEE.KDT", "Employee.kdt", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.pattern), c.matches) << c.pattern << " against " << c.name;
  }
}

TEST_F(FileSystemTest, ForceDirectoriesCreatesMissingParentsInTheExistingCase) {
  EXPECT_TRUE(ForceDirectories(Root() + "COMPANY\\NEW\\Deep\\"));
  EXPECT_TRUE(std::filesystem::is_directory(folder_.path() / "Company/NEW/Deep"));
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "COMPANY"));

  EXPECT_TRUE(ForceDirectories(Root() + "company\\new\\deep"));  // already there
  EXPECT_TRUE(ForceDirectories(Root() + "BACKUP"));
  EXPECT_TRUE(DirectoryExists(Root() + "backup\\"));

  EXPECT_FALSE(ForceDirectories(Root() + "COMPANY\\README\\X"));  // a file in the way
  EXPECT_FALSE(DirectoryExists(Root() + "COMPANY\\README\\X"));
  EXPECT_FALSE(ForceDirectories(""));
}

TEST_F(FileSystemTest, DeleteFileReportsWhetherAFileWasDeleted) {
  EXPECT_TRUE(DeleteFile(Root() + "COMPANY\\employee.KDT"));
  EXPECT_FALSE(std::filesystem::exists(folder_.path() / "Company/EMPLOYEE.KDT"));
  EXPECT_FALSE(DeleteFile(Root() + "COMPANY\\employee.KDT"));  // gone already

  EXPECT_FALSE(DeleteFile(Root() + "COMPANY\\ACME.OLD"));  // a folder
  EXPECT_TRUE(DirectoryExists(Root() + "COMPANY\\ACME.OLD"));
  EXPECT_FALSE(DeleteFile(Root() + "COMPANY\\MISSING.KDT"));
  EXPECT_FALSE(DeleteFile(Root() + "COMPANY\\README\\"));  // a file named as a folder
  EXPECT_TRUE(FileExists(Root() + "COMPANY\\README"));
  EXPECT_FALSE(DeleteFile(""));
}

}  // namespace
}  // namespace kx8::platform
