// The interrupted-pass marker as a file: what is written is read back, a
// marker nobody can parse still counts, and removing is safe to repeat.
#include "console/pass_marker.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "../testing/temp_dir.h"

namespace kx8::console {
namespace {

namespace fs = std::filesystem;

TEST(PassMarkerTest, WrittenReadBackAndRemoved) {
  testing::TempDir dir("kx8-marker");
  const std::string folder = dir.path();
  EXPECT_FALSE(ReadPassMarker(folder));
  RemovePassMarker(folder);  // none yet: nothing to do

  WritePassMarker(folder + "/", "C:\\PAY\\BACKUP\\ACME 1007 PM.zip");
  std::optional<PassMarker> marker = ReadPassMarker(folder);
  ASSERT_TRUE(marker);
  EXPECT_EQ(marker->archive, "C:\\PAY\\BACKUP\\ACME 1007 PM.zip");
  ASSERT_EQ(marker->started.size(), 20u) << marker->started;  // 2026-12-10T16:49:29Z
  EXPECT_EQ(marker->started.back(), 'Z');
  // Durable writing leaves no temporary file beside it.
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir.path())) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"KX8-PASS-STARTED.TXT"});

  RemovePassMarker(folder);
  EXPECT_FALSE(ReadPassMarker(folder));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(PassMarkerTest, AMarkerWithoutItsLinesStillCounts) {
  testing::TempDir dir("kx8-marker");
  std::ofstream(dir.File("kx8-pass-started.txt")) << "half a line";
  std::optional<PassMarker> marker = ReadPassMarker(dir.path());
  ASSERT_TRUE(marker);  // found in any letter case
  EXPECT_EQ(marker->archive, "");
  EXPECT_EQ(InterruptedPassMessage("ACME", *marker), "the upgrade of company ACME was interrupted; run it again");
  EXPECT_EQ(InterruptedPassMessage("ACME", PassMarker{"X.zip", ""}),
            "the upgrade of company ACME was interrupted; run it again, or restore from archive X.zip");
}

}  // namespace
}  // namespace kx8::console
