#include "platform/path.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace kx8::platform {
namespace {

namespace fs = std::filesystem;

// Sets (or unsets, for nullopt) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// A temporary folder laid out like a company folder:
//   EMPLOYEE.KDT, Payroll.kdt, sub/EMPLOYEE.KDT, kelpatmp/,
//   multi/DATA.KDT, multi/Data.KDT, multi/data.kdt
class PathOnDiskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kx8-path-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    for (const char* folder : {"sub", "kelpatmp", "multi"}) fs::create_directory(root_ / folder);
    for (const char* file : {"EMPLOYEE.KDT", "Payroll.kdt", "sub/EMPLOYEE.KDT", "multi/DATA.KDT",
                             "multi/Data.KDT", "multi/data.kdt"}) {
      Touch(root_ / file);
    }
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  static void Touch(const fs::path& file) { std::ofstream(file) << "x"; }

  // The root in the program's own style: Windows separators, trailing "\".
  std::string WindowsRoot() const {
    std::string text = root_.string() + "/";
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  fs::path root_;
};

TEST_F(PathOnDiskTest, ResolvesEveryComponentWithoutRegardToCase) {
  struct Case {
    const char* given;     // appended to the root in Windows style
    const char* expected;  // appended to root + "/"
  };
  const Case cases[] = {
      {"employee.kdt", "EMPLOYEE.KDT"},
      {"Employee.kdt", "EMPLOYEE.KDT"},
      {"EMPLOYEE.KDT", "EMPLOYEE.KDT"},
      {"SUB\\employee.KDT", "sub/EMPLOYEE.KDT"},
      {"Sub/Employee.Kdt", "sub/EMPLOYEE.KDT"},
      {"SUB\\\\/employee.kdt", "sub/EMPLOYEE.KDT"},
      {"SUB\\", "sub/"},
      {"KELPATMP\\", "kelpatmp/"},
      {"KELPATMP", "kelpatmp"},
      // A name that differs only in case wins over the new spelling.
      {"PAYROLL.KDT", "Payroll.kdt"},
      // New names keep the case given, and so does everything after them.
      {"NewFile.Kdt", "NewFile.Kdt"},
      {"SUB\\NewFile.Kdt", "sub/NewFile.Kdt"},
      {"Missing\\Sub\\Employee.kdt", "Missing/Sub/Employee.kdt"},
      {"NEWFOLDER\\", "NEWFOLDER/"},
      // Several case variants: the exact one, else the first in byte order.
      {"MULTI\\data.kdt", "multi/data.kdt"},
      {"MULTI\\Data.KDT", "multi/Data.KDT"},
      {"MULTI\\DATA.KDT", "multi/DATA.KDT"},
      {"MULTI\\data.KDT", "multi/DATA.KDT"},
      {"MULTI\\dAtA.kDt", "multi/DATA.KDT"},
      // "." and ".." are taken lexically.
      {"SUB\\..\\employee.kdt", "EMPLOYEE.KDT"},
      {".\\sub\\.\\employee.kdt", "sub/EMPLOYEE.KDT"},
      {"SUB\\..", ""},
      // A file is not a folder: nothing below it exists.
      {"employee.kdt\\x", "EMPLOYEE.KDT/x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolvePath(WindowsRoot() + c.given), root_.string() + "/" + c.expected)
        << "given " << c.given;
  }
}

TEST_F(PathOnDiskTest, NewFileKeepsItsCaseAndIsFoundAgainInAnyCase) {
  const std::string created = ResolvePath(WindowsRoot() + "Sub\\Report.KDM");
  EXPECT_EQ(created, root_.string() + "/sub/Report.KDM");
  Touch(created);

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(root_ / "sub")) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"EMPLOYEE.KDT", "Report.KDM"}));

  EXPECT_EQ(ResolvePath(WindowsRoot() + "SUB\\REPORT.kdm"), created);
}

TEST_F(PathOnDiskTest, ExistenceChecksResolveCaseAndKind) {
  struct Case {
    const char* given;
    bool file;
    bool folder;
  };
  const Case cases[] = {
      {"employee.kdt", true, false}, {"SUB\\Employee.kdt", true, false},
      {"SUB", false, true},          {"sub\\", false, true},
      {"KelpaTmp\\", false, true},   {"nothing.kdt", false, false},
      {"nothing\\", false, false},   {"employee.kdt\\", false, false},
  };
  for (const Case& c : cases) {
    const std::string path = WindowsRoot() + c.given;
    EXPECT_EQ(FileExists(path), c.file) << c.given;
    EXPECT_EQ(DirectoryExists(path), c.folder) << c.given;
  }
}

TEST_F(PathOnDiskTest, DriveLetterAndRelativePathsResolveToo) {
  ScopedEnv drive("KX8_DRIVE_K", root_.string());
  EXPECT_EQ(ResolvePath("k:\\Sub\\employee.kdt"), root_.string() + "/sub/EMPLOYEE.KDT");
  EXPECT_TRUE(FileExists("K:/SUB/EMPLOYEE.KDT"));
  EXPECT_TRUE(DirectoryExists("k:"));

  const fs::path previous = fs::current_path();
  fs::current_path(root_ / "sub");
  EXPECT_EQ(ResolvePath("employee.kdt"), "EMPLOYEE.KDT");
  EXPECT_EQ(ResolvePath("..\\Sub\\employee.kdt"), "../sub/EMPLOYEE.KDT");
  EXPECT_EQ(ResolvePath("..\\kelpatmp\\New.TXT"), "../kelpatmp/New.TXT");
  EXPECT_TRUE(FileExists("Employee.KDT"));
  fs::current_path(previous);
}

TEST(NativePathTest, MapsSeparatorsDotsAndUncPaths) {
  struct Case {
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"", ""},
      {"EMPLOYEE.KDT", "EMPLOYEE.KDT"},
      {"COMPANY\\ABC\\EMPLOYEE.KDT", "COMPANY/ABC/EMPLOYEE.KDT"},
      {"COMPANY/ABC\\EMPLOYEE.KDT", "COMPANY/ABC/EMPLOYEE.KDT"},
      {"COMPANY\\\\ABC//\\EMPLOYEE.KDT", "COMPANY/ABC/EMPLOYEE.KDT"},
      {"KELPATMP\\", "KELPATMP/"},
      {"KELPATMP\\\\", "KELPATMP/"},
      {"\\data\\kx8\\", "/data/kx8/"},
      {"/data/kx8", "/data/kx8"},
      {"\\", "/"},
      {"A\\.\\B", "A/B"},
      {"A\\B\\..\\C", "A/C"},
      {"A\\B\\..", "A/"},
      {"A\\.", "A/"},
      {"A\\..", "./"},
      {".", "./"},
      {"..\\..\\X", "../../X"},
      {"A\\..\\..\\X", "../X"},
      {"\\..\\X", "/X"},
      {"\\\\server\\share\\x", "//server/share/x"},
      {"\\\\Server\\Share\\Dir\\", "//Server/Share/Dir/"},
      {"\\\\server\\share\\..\\..\\x", "//server/share/x"},
      {"//server/share", "//server/share"},
      {"1:\\x", "1:/x"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NativePath(c.given), c.expected) << "given " << c.given;
  }
}

TEST(NativePathTest, DriveLettersMapThroughEnvironmentOrMnt) {
  struct Case {
    const char* variable;              // the variable set for this case
    std::optional<std::string> value;  // nullopt: unset
    const char* given;
    const char* expected;
  };
  const Case cases[] = {
      {"KX8_DRIVE_C", std::nullopt, "c:\\temp\\", "/mnt/c/temp/"},
      {"KX8_DRIVE_C", std::nullopt, "C:\\TEMP\\photo.bmp", "/mnt/c/TEMP/photo.bmp"},
      {"KX8_DRIVE_C", std::nullopt, "c:", "/mnt/c"},
      {"KX8_DRIVE_C", std::nullopt, "c:\\", "/mnt/c/"},
      {"KX8_DRIVE_C", std::nullopt, "c:temp", "/mnt/c/temp"},
      {"KX8_DRIVE_C", std::nullopt, "c:\\..\\..\\x", "/mnt/c/x"},
      {"KX8_DRIVE_C", "", "c:\\temp", "/mnt/c/temp"},
      {"KX8_DRIVE_D", std::nullopt, "D:\\DATA\\ABC", "/mnt/d/DATA/ABC"},
      {"KX8_DRIVE_D", "/srv/dshare", "D:\\DATA\\ABC", "/srv/dshare/DATA/ABC"},
      {"KX8_DRIVE_D", "/srv/dshare", "d:\\DATA\\ABC", "/srv/dshare/DATA/ABC"},
      {"KX8_DRIVE_D", "/srv/dshare//", "d:", "/srv/dshare"},
      {"KX8_DRIVE_D", "/srv/dshare/", "d:\\", "/srv/dshare/"},
      {"KX8_DRIVE_D", "/srv/dshare", "d:\\..\\x", "/srv/dshare/x"},
      {"KX8_DRIVE_D", "/", "d:\\x", "/x"},
      {"KX8_DRIVE_D", "drives/d", "d:\\x\\", "drives/d/x/"},
      // Only the variable of the path's own letter counts.
      {"KX8_DRIVE_D", "/srv/dshare", "e:\\x", "/mnt/e/x"},
  };
  for (const Case& c : cases) {
    ScopedEnv unset_c("KX8_DRIVE_C", std::nullopt);
    ScopedEnv unset_d("KX8_DRIVE_D", std::nullopt);
    ScopedEnv unset_e("KX8_DRIVE_E", std::nullopt);
    ScopedEnv env(c.variable, c.value);
    EXPECT_EQ(NativePath(c.given), c.expected)
        << "given " << c.given << " with " << c.variable << "=" << c.value.value_or("(unset)");
  }
}

TEST(NativePathTest, DoesNotConsultTheDisk) {
  // Case resolution belongs to ResolvePath only.
  const std::string existing = fs::temp_directory_path().string();
  std::string upper = existing;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(NativePath(upper), upper);
}

TEST(PathPartsTest, SplitsFolderNameAndExtension) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* extension;
  };
  const Case cases[] = {
      {"/a/b/EMPLOYEE.KDT", "/a/b/", "EMPLOYEE.KDT", ".KDT"},
      {"a\\b\\EMPLOYEE.KDT", "a\\b\\", "EMPLOYEE.KDT", ".KDT"},
      {"/a/b/X.KDT.BAK", "/a/b/", "X.KDT.BAK", ".BAK"},
      {"EMPLOYEE.KDT", "", "EMPLOYEE.KDT", ".KDT"},
      {"/a/b/", "/a/", "b", ""},
      {"/a/b.d/", "/a/", "b.d", ".d"},
      {"/a/b.d/NAME", "/a/b.d/", "NAME", ""},
      {"/x", "/", "x", ""},
      {"/", "/", "", ""},
      {"", "", "", ""},
      {"/a/name.", "/a/", "name.", "."},
      {"/a/.ini", "/a/", ".ini", ""},
      {"/a/..", "/a/", "..", ""},
      {"//server/share", "//server/", "share", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParentFolder(c.path), c.folder) << c.path;
    EXPECT_EQ(FileNamePart(c.path), c.name) << c.path;
    EXPECT_EQ(ExtensionPart(c.path), c.extension) << c.path;
  }
}

TEST(SameNameIgnoreCaseTest, ComparesAsciiLettersOnlyWithoutCase) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case cases[] = {
      {"EMPLOYEE.KDT", "employee.kdt", true},
      {"Employee.Kdt", "eMPLOYEE.kDT", true},
      {"", "", true},
      {"ABC", "ABD", false},
      {"ABC", "ABCD", false},
      {"ABC", "AB", false},
      // Neighbours of the letter ranges are not letters.
      {"@", "`", false},
      {"[", "{", false},
      {"Z", "z", true},
      {"A", "a", true},
      // Bytes beyond ASCII compare exactly.
      {"\xC3\x89", "\xC3\xA9", false},
      {"\xC3\x89", "\xC3\x89", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameNameIgnoreCase(c.a, c.b), c.same) << c.a << " / " << c.b;
    EXPECT_EQ(SameNameIgnoreCase(c.b, c.a), c.same) << c.b << " / " << c.a;
  }
}

}  // namespace
}  // namespace kx8::platform
