// Employee photographs: bitmaps re-encoded as baseline colour JPEG images in
// the employee pass (JPEG and empty photographs left alone, undecodable
// bitmaps shown and kept), export and import of the photograph files, and
// employee numbers that must not become file names.
#include "conversions/photographs.h"

#include <stb/stb_image.h>

#include "conversions/employee_pass.h"
#include "employee_fixture.h"
#include "platform/file_bytes.h"
#include "tools/demo_files.h"

namespace kx8::conversions {
namespace {

struct Markers {
  bool baseline = false, progressive = false;
  int components = 0;
};

// The frame header of a JPEG file image: SOF0 (baseline) or SOF2
// (progressive), and its number of components.
Markers FrameOf(const std::string& jpeg) {
  Markers m;
  for (std::size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (static_cast<unsigned char>(jpeg[i]) != 0xFF) continue;
    const unsigned char marker = static_cast<unsigned char>(jpeg[i + 1]);
    if (marker == 0xC0 || marker == 0xC2) {
      m.baseline = marker == 0xC0;
      m.progressive = marker == 0xC2;
      m.components = static_cast<unsigned char>(jpeg[i + 9]);
      return m;
    }
  }
  return m;
}

class PhotographsTest : public EmployeeTablesTest {
 protected:
  void MakeCompany(const std::vector<Row>& employees) {
    for (const char* table : {"EMPLOYMT", "EMPMISC", "EMP_PROS", "CODE", "COSTCTR", "FAMILY"}) MakeReleaseTable(table);
    MakeReleaseTable("EMPLOYEE", employees);
  }
  void Reencode() {
    EmployeePassOptions options;
    options.photograph = true;
    RunEmployeePass(Context(), options);
  }
  std::vector<std::string> Photos() { return Rows("EMPLOYEE", {"PHOTO_ID"}); }
};

TEST_F(PhotographsTest, BitmapsBecomeBaselineColourJpegImagesOfTheSameSize) {
  fs::create_directories(drive_c_ / "temp");
  const std::string jpeg = tools::MakeJpeg(8, 6, 3);
  const std::string corrupt = tools::MakeBitmap(8, 6, 4).substr(0, 30);
  MakeCompany({{{"EMP_NO", "E1"}, {"PHOTO_ID", tools::MakeBitmap(21, 13, 1)}},
               {{"EMP_NO", "E2"}, {"PHOTO_ID", jpeg}},
               {{"EMP_NO", "E3"}},
               {{"EMP_NO", "E4"}, {"PHOTO_ID", corrupt}},
               {{"EMP_NO", "E5"}, {"PHOTO_ID", tools::MakeBitmap(3, 40, 2)}}});
  Reencode();
  std::vector<std::string> photos = Photos();
  for (auto [row, width, height] : {std::tuple{0, 21, 13}, std::tuple{4, 3, 40}}) {
    SCOPED_TRACE(row);
    const std::string& p = photos[static_cast<std::size_t>(row)];
    int w = 0, h = 0, n = 0;
    unsigned char* pixels =
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(p.data()), static_cast<int>(p.size()), &w, &h, &n, 0);
    ASSERT_NE(pixels, nullptr);
    stbi_image_free(pixels);
    EXPECT_EQ(std::tuple(w, h, n), std::tuple(width, height, 3));
    Markers m = FrameOf(p);
    EXPECT_TRUE(m.baseline && !m.progressive);
    EXPECT_EQ(m.components, 3);
  }
  EXPECT_EQ(photos[1], jpeg);
  EXPECT_EQ(photos[2], "");
  EXPECT_EQ(photos[3], corrupt);  // shown by its employee number and kept; the pass went on to E5
  EXPECT_EQ(ui_.Messages(), std::vector<std::string>{"message: E4"});
  // The work files stay, holding the last employee's.
  EXPECT_EQ(platform::ReadFileBytes("c:\\temp\\photo.jpg"), photos[4]);
  EXPECT_TRUE(fs::exists(drive_c_ / "temp" / "photo.bmp"));

  Reencode();  // nothing is a bitmap any more but the one that cannot be read
  EXPECT_EQ(Photos(), photos);
}

TEST_F(PhotographsTest, WithoutItsWorkFolderTheReencodingEndsThePass) {
  const std::string bitmap = tools::MakeBitmap(4, 4, 1);
  MakeCompany({{{"EMP_NO", "E1"}, {"PHOTO_ID", bitmap}}});
  EXPECT_THROW(Reencode(), std::runtime_error);
  EXPECT_EQ(Photos(), std::vector<std::string>{bitmap});
}

TEST_F(PhotographsTest, ExportedFilesImportedAgainGiveTheSameBytes) {
  fs::create_directories(drive_c_ / "temp" / "photo");
  const std::string bitmap = tools::MakeBitmap(5, 7, 1), jpeg = tools::MakeJpeg(6, 6, 2);
  MakeCompany({{{"EMP_NO", "E1"}, {"PHOTO_ID", bitmap}}, {{"EMP_NO", "E2"}, {"PHOTO_ID", jpeg}}, {{"EMP_NO", "E3"}}});
  ExportPhotographs(Context());
  std::vector<std::string> exported;
  for (const auto& e : fs::directory_iterator(drive_c_ / "temp")) {
    if (e.is_regular_file()) exported.push_back(e.path().filename().string());
  }
  std::sort(exported.begin(), exported.end());
  EXPECT_EQ(exported, (std::vector<std::string>{"E1.jpg", "E2.jpg"}));  // E3 has no photograph

  // The files moved to the import folder, the table's photographs gone.
  for (const std::string& f : exported) fs::rename(drive_c_ / "temp" / f, drive_c_ / "temp" / "photo" / f);
  platform::WriteFileBytes("c:\\temp\\photo\\E9.jpg", jpeg);  // nobody's
  WithTable("EMPLOYEE", [](dbaccess::TDbTable& t) {
    for (t.First(); !t.Eof(); t.Next()) {
      t.Edit();
      t.FieldByName("PHOTO_ID").Clear();
      t.Post();
    }
  });
  ImportPhotographs(Context());
  EXPECT_EQ(Photos(), (std::vector<std::string>{bitmap, jpeg, ""}));
  EXPECT_TRUE(ui_.Messages().empty());
}

TEST_F(PhotographsTest, AnEmployeeNumberThatIsNoFileNameIsRefused) {
  const char* hostile[] = {"", "..\\E1", "../E1", "E1\\X", "c:E1", "A/B", ".."};
  for (const char* no : hostile) {
    SCOPED_TRACE(no);
    EXPECT_FALSE(UsableInFileName(no));
  }
  EXPECT_TRUE(UsableInFileName("E1.OLD"));
  EXPECT_TRUE(UsableInFileName("E 1"));

  fs::create_directories(drive_c_ / "temp" / "photo");
  const std::string jpeg = tools::MakeJpeg(4, 4, 1);
  std::vector<Row> employees = {{{"EMP_NO", "E1"}, {"EMP_NAME", "TAN"}, {"PHOTO_ID", jpeg}}};
  for (const char* no : {"..\\E1", "c:E2"}) employees.push_back({{"EMP_NO", no}, {"EMP_NAME", "LIM"}, {"PHOTO_ID", jpeg}});
  MakeCompany(employees);
  // A file an import through "..\E1" would take.
  platform::WriteFileBytes("c:\\temp\\E1.jpg", "not a photograph");
  ImportPhotographs(Context());
  EXPECT_EQ(Photos(), (std::vector<std::string>{jpeg, jpeg, jpeg}));
  ASSERT_EQ(ui_.Messages().size(), 2u);
  EXPECT_EQ(ui_.Messages()[0],
            "message: The photograph of employee \"..\\E1\" LIM is skipped: the employee number cannot be part of a file name.");
  ui_.Clear();
  fs::remove(drive_c_ / "temp" / "E1.jpg");
  ExportPhotographs(Context());
  EXPECT_EQ(ui_.Messages().size(), 2u);
  EXPECT_EQ(platform::ReadFileBytes("c:\\temp\\E1.jpg"), jpeg);  // E1's own, not overwritten by "..\E1"
  EXPECT_FALSE(fs::exists(drive_c_ / "E2.jpg"));
  EXPECT_FALSE(fs::exists(drive_c_ / "temp" / "c:E2.jpg"));
}

}  // namespace
}  // namespace kx8::conversions
