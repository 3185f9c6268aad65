#include "platform/program_info.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/file_system.h"
#include "platform/path.h"

namespace kx8::platform {
namespace {

TEST(ProgramInfoTest, FolderAndDateAreThoseOfTheRunningExecutable) {
  const std::string folder = ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), '/');
  EXPECT_EQ(folder + FileNamePart(ProgramFileName()), ProgramFileName());
  EXPECT_TRUE(FileExists(folder + "platform_services_test"));

  // To the second: the file's own date without its milliseconds.
  const std::optional<double> modified = FileModifiedDate(ProgramFileName());
  ASSERT_TRUE(modified.has_value());
  EXPECT_LE(ProgramFileDate(), *modified);
  EXPECT_GT(ProgramFileDate(), *modified - 1.0 / 86400.0);
  EXPECT_DOUBLE_EQ(std::round(ProgramFileDate() * 86400.0), ProgramFileDate() * 86400.0);
}

TEST(ProgramInfoTest, OverridesNestAndRestore) {
  const std::string real_folder = ProgramFolder();
  const double real_date = ProgramFileDate();
  {
    ScopedProgramInfoOverride outer("c:\\kx8\\", 40073.5);
    EXPECT_EQ(ProgramFolder(), "c:\\kx8\\");
    EXPECT_EQ(ProgramFileDate(), 40073.5);
    {
      ScopedProgramInfoOverride inner("/srv/kx8/", 1.0);
      EXPECT_EQ(ProgramFolder(), "/srv/kx8/");
      EXPECT_EQ(ProgramFileDate(), 1.0);
    }
    EXPECT_EQ(ProgramFolder(), "c:\\kx8\\");
    EXPECT_EQ(ProgramFileDate(), 40073.5);
  }
  EXPECT_EQ(ProgramFolder(), real_folder);
  EXPECT_EQ(ProgramFileDate(), real_date);
}

}  // namespace
}  // namespace kx8::platform
