#include "platform/folder_names.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/path.h"
#include "platform_test_support.h"

namespace kx8::platform {
namespace {

using test_support::TempFolder;

// Gives the folder times well in the past, so that its listing, once read,
// is trusted: a kept listing that missed a change would then answer wrongly.
void AgeFolder(const std::string& folder) {
  const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, folder.c_str(), old, 0), 0);
}

enum class Change { None, Create, Rename, Remove };

struct Case {
  const char* what;
  std::vector<const char*> files;  // in the folder at the start
  const char* asked_first;         // looked up before the change
  const char* found_first;         // the spelling that look-up gives
  Change change;
  const char* from;  // the name created (Create), renamed or removed
  const char* to;    // Rename only
  const char* asked_then;
  const char* found_then;
};

// Every look-up goes through ResolvePath, as the engine's do; a name not
// on disk resolves to the spelling asked for.
TEST(FolderNamesTest, LookUpsSeeEveryChangeOfTheFolderAtOnce) {
  const Case cases[] = {
      {"any case finds the name on disk", {"EMPLOYEE.KDT"}, "employee.kdt", "EMPLOYEE.KDT", Change::None, "", "",
       "Employee.Kdt", "EMPLOYEE.KDT"},
      {"of names differing only in case the exact one wins", {"DATA.KDT", "Data.KDT", "data.kdt"}, "data.kdt",
       "data.kdt", Change::None, "", "", "Data.KDT", "Data.KDT"},
      {"else the first in byte order", {"data.kdt", "DATA.KDT"}, "dATA.kdt", "DATA.KDT", Change::None, "", "",
       "data.KDT", "DATA.KDT"},
      {"a name created after a miss is found", {"A.KDT"}, "NEW.KDT", "NEW.KDT", Change::Create, "New.kdt", "",
       "NEW.KDT", "New.kdt"},
      {"a renamed name is found under its new name only", {"OLD.KDT"}, "old.kdt", "OLD.KDT", Change::Rename,
       "OLD.KDT", "Fresh.KDT", "old.kdt", "old.kdt"},
      {"the new name of a rename is found in any case", {"OLD.KDT"}, "fresh.kdt", "fresh.kdt", Change::Rename,
       "OLD.KDT", "Fresh.KDT", "FRESH.KDT", "Fresh.KDT"},
      {"a removed name is no longer found", {"GONE.KDT", "KEPT.KDT"}, "gone.kdt", "GONE.KDT", Change::Remove,
       "GONE.KDT", "", "gone.kdt", "gone.kdt"},
      {"a name made again in another case is found so", {"X.KDT"}, "x.kdt", "X.KDT", Change::Rename, "X.KDT",
       "x.Kdt", "X.KDT", "x.Kdt"},
  };
  enum class Mode { Reported, ReportedInOneOperation, Unreported };
  // Kept current by the kernel's reports, or by the folder's times where
  // there are none (network file systems).
  for (const bool kernel_reports : {true, false}) {
    UseChangeReports(kernel_reports);
    for (const Mode mode : {Mode::Reported, Mode::ReportedInOneOperation, Mode::Unreported}) {
      const bool reported = mode != Mode::Unreported;
      for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) +
                     (mode == Mode::Unreported               ? " (made by another program)"
                      : mode == Mode::ReportedInOneOperation ? " (reported within one operation)"
                                                             : " (reported by this process)") +
                     (kernel_reports ? ", kept by the kernel's reports" : ", kept by the folder's times"));
        std::optional<FolderOperation> operation;
        if (mode == Mode::ReportedInOneOperation) operation.emplace();
        TempFolder temp;
        const std::string folder = temp.path().string();
        for (const char* name : c.files) temp.Write(name, "x");
        AgeFolder(folder);
        EXPECT_EQ(ResolvePath(folder + "/" + c.asked_first), folder + "/" + c.found_first);

        const std::string from = folder + "/" + c.from, to = folder + "/" + c.to;
        switch (c.change) {
          case Change::None:
            break;
          case Change::Create: {
            const int fd = ::open(from.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
            break;
          }
          case Change::Rename:
            ASSERT_EQ(std::rename(from.c_str(), to.c_str()), 0);
            break;
          case Change::Remove:
            ASSERT_EQ(::unlink(from.c_str()), 0);
            break;
        }
        if (reported && c.change != Change::None) {
          FolderChanged(from);
          if (c.change == Change::Rename) FolderChanged(to);
        }
        const std::uint64_t readings = FolderReadings();
        EXPECT_EQ(ResolvePath(folder + "/" + c.asked_then), folder + "/" + c.found_then);
        // The change is applied to the kept listing: the folder is not read again.
        if (kernel_reports) {
          EXPECT_EQ(FolderReadings(), readings);
        }
      }
    }
  }
  UseChangeReports(true);
}

TEST(FolderNamesTest, ListsEveryNameAndNoListingForAMissingFolder) {
  TempFolder temp;
  for (const char* name : {"b.kdt", "A.KDT", "a.kdt"}) temp.Write(name, "x");
  temp.MakeFolder("Sub");
  const auto names = ListFolder(temp.path().string() + "/");
  ASSERT_NE(names, nullptr);
  std::vector<std::string> listed(names->names().begin(), names->names().end());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"A.KDT", "Sub", "a.kdt", "b.kdt"}));
  EXPECT_TRUE(names->Contains("a.kdt"));
  EXPECT_FALSE(names->Contains("B.KDT"));
  EXPECT_EQ(names->Find("B.KDT"), "b.kdt");
  EXPECT_EQ(names->Find("c.kdt"), "");

  EXPECT_EQ(ListFolder(temp.path().string() + "/missing"), nullptr);
  EXPECT_EQ(ListFolder(temp.path().string() + "/a.kdt"), nullptr);  // a file, not a folder
}

// The path names another folder, or none: a kept listing of the folder
// that was there before must not answer for it.
TEST(FolderNamesTest, AFolderRemovedOrReplacedIsNotAnsweredForByItsOldListing) {
  for (const bool kernel_reports : {true, false}) {
    SCOPED_TRACE(kernel_reports ? "kept by the kernel's reports" : "kept by the folder's times");
    UseChangeReports(kernel_reports);
    TempFolder temp;
    const std::string folder = temp.MakeFolder("Company").string(), moved = temp.path().string() + "/Moved";
    temp.Write("Company/EMPLOYEE.KDT", "x");
    AgeFolder(folder);
    ASSERT_EQ(ResolvePath(folder + "/employee.kdt"), folder + "/EMPLOYEE.KDT");

    // A parent renamed is not a change of the folder itself.
    ASSERT_EQ(std::rename(temp.path().c_str(), (temp.path().string() + ".old").c_str()), 0);
    ASSERT_EQ(::mkdir(temp.path().c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    temp.Write("Company/Employee.kdt", "y");
    AgeFolder(folder);
    EXPECT_EQ(ResolvePath(folder + "/EMPLOYEE.kdt"), folder + "/Employee.kdt");
    std::filesystem::remove_all(temp.path().string() + ".old");

    ASSERT_EQ(std::rename(folder.c_str(), moved.c_str()), 0);
    EXPECT_EQ(ListFolder(folder), nullptr);
    EXPECT_EQ(ResolvePath(folder + "/employee.kdt"), folder + "/employee.kdt");
    ASSERT_NE(ListFolder(moved), nullptr);
    std::filesystem::remove_all(moved);
    EXPECT_EQ(ListFolder(moved), nullptr);
  }
  UseChangeReports(true);
}

// A child made by fork starts with the parent's kept listings; what it
// asks and changes must not take the parent's news of the folder away.
TEST(FolderNamesTest, AForkedChildLeavesTheParentsListingsCurrent) {
  TempFolder temp;
  const std::string folder = temp.path().string();
  temp.Write("A.KDT", "x");
  ASSERT_EQ(ResolvePath(folder + "/a.kdt"), folder + "/A.KDT");
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int fd = ::open((folder + "/NEW.KDT").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) ::_exit(1);
    ::close(fd);
    ::_exit(ResolvePath(folder + "/new.kdt") == folder + "/NEW.KDT" ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ResolvePath(folder + "/new.kdt"), folder + "/NEW.KDT");
}

}  // namespace
}  // namespace kx8::platform
