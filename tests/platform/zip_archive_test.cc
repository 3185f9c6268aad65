// The zip component: what Compress takes and how it writes, the check of an
// archive against its files, what Extract takes and how it replaces files,
// and the entries it refuses. Archives are read (and test archives written)
// with Python's zipfile as well as with the component itself.
#include "platform/zip_archive.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "platform/file_system.h"
#include "platform_test_support.h"
#include "support/helpers.h"
#include "zip_test_support.h"

namespace kx8::platform {
namespace {

namespace fs = std::filesystem;
using test_support::ReadWithPython;
using test_support::TempFolder;
using test_support::WriteWithPython;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every name in a folder, sub-folders with a trailing "/", recursively.
std::set<std::string> Tree(const fs::path& folder) {
  std::set<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_directory()) name += "/";
    names.insert(name);
  }
  return names;
}

std::map<std::string, std::string> PythonContents(const std::string& archive) {
  const test_support::PyListing listing = ReadWithPython(archive);
  EXPECT_EQ(listing.verdict, "OK") << archive;
  std::map<std::string, std::string> contents;
  for (const auto& entry : listing.entries) {
    EXPECT_EQ(entry.method, 8) << entry.name << ": deflated";
    EXPECT_EQ(entry.size, entry.data.size()) << entry.name;
    contents[entry.name] = entry.data;
  }
  return contents;
}

TEST(ZipArchiveTest, CompressTakesThePlainFilesDirectlyInTheMaskFoldersOnce) {
  TempFolder temp;
  const std::string big(300000, 'k');  // several deflate blocks
  temp.Write("DATA/EMPLOYEE.KDT", big);
  temp.Write("DATA/employee.kdi", "index");
  temp.Write("DATA/NOTES.TXT", "not asked for");
  temp.Write("DATA/EMPLOYEE.KDT.BAK", "backup copy");  // "*.kdt" stops at the last "."
  temp.Write("DATA/OLD/OLD.KDT", "sub-folder");
  temp.MakeFolder("DATA/FOLDER.KDT");
  temp.Write("OTHER/PUBLIC.KDT", "other folder");
  temp.MakeFolder("BACKUP");

  TZipArchive zip;
  zip.SetFilesToProcess(temp.WindowsRoot() + "data\\*.kdt\r\n" + temp.WindowsRoot() + "DATA\\*.KDI");
  zip.AddMask(temp.WindowsRoot() + "DATA\\*.KDT");  // the same files again
  zip.AddMask(temp.WindowsRoot() + "Other\\*.kdt");
  zip.SetZipFilename(temp.WindowsRoot() + "backup\\First One.zip");
  ASSERT_EQ(zip.Compress(), TZipResult::Ok) << zip.LastError();
  EXPECT_EQ(zip.LastError(), "");

  const std::map<std::string, std::string> expected = {
      {"EMPLOYEE.KDT", big}, {"employee.kdi", "index"}, {"PUBLIC.KDT", "other folder"}};
  EXPECT_EQ(PythonContents((temp.path() / "BACKUP/First One.zip").string()), expected);
  // Our own reader: the names in the order of the masks, and the check.
  std::vector<std::string> names;
  for (const TZipEntry& entry : zip.Entries()) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"EMPLOYEE.KDT", "employee.kdi", "PUBLIC.KDT"}));
  EXPECT_EQ(zip.Check(), TZipResult::Ok) << zip.LastError();
  EXPECT_EQ(zip.TestArchive(), TZipResult::Ok) << zip.LastError();
  // Nothing else is left in the archive's folder.
  EXPECT_EQ(Tree(temp.path() / "BACKUP"), (std::set<std::string>{"First One.zip"}));
}

// Entries are deflated on worker threads and handed to libzip already
// compressed. The archive must be the very one libzip writes when it reads
// and compresses the files itself: same deflate data at the same level,
// same sizes, CRCs, dates, modes and flags, byte for byte.
TEST(ZipArchiveTest, CompressWritesTheArchiveLibzipWritesFromTheFiles) {
  TempFolder temp;
  std::string random(200000, '\0');
  std::uint32_t seed = 12345;
  for (char& c : random) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  std::vector<std::string> names;
  const auto add = [&](const std::string& name, const std::string& content) {
    temp.Write("DATA/" + name, content);
    names.push_back(name);
  };
  add("BIG.KDT", std::string(300000, 'k') + random.substr(0, 5000) + std::string(70000, 'z'));
  add("EMPTY.KDT", "");
  add("RANDOM.KDT", random);  // does not compress
  std::string large;  // left to libzip to deflate as it writes
  while (large.size() < (5u << 20)) large += random.substr(large.size() % 1000, 3000) + std::string(5000, 'L');
  add("LARGE.KDT", large);
  add("READONLY.KDT", "read only");
  for (int i = 0; i < 20; ++i) add("T" + std::to_string(i) + ".KDT", std::string(100 * i, static_cast<char>('a' + i)));
  fs::permissions(temp.path() / "DATA/READONLY.KDT", fs::perms::owner_read | fs::perms::group_read);
  // Old and new dates, so that each entry's date shows.
  fs::last_write_time(temp.path() / "DATA/T3.KDT", fs::last_write_time(temp.path() / "DATA/T3.KDT") - std::chrono::hours(24 * 400));

  TZipArchive zip;
  zip.AddMask(temp.WindowsRoot() + "DATA\\*.KDT");
  zip.SetZipFilename(temp.WindowsRoot() + "ours.zip");
  ASSERT_EQ(zip.Compress(), TZipResult::Ok) << zip.LastError();
  std::vector<std::string> order;
  for (const TZipEntry& entry : zip.Entries()) order.push_back(entry.name);
  ASSERT_EQ(order.size(), names.size());

  const std::string reference = (temp.path() / "libzip.zip").string();
  int error = 0;
  zip_t* archive = zip_open(reference.c_str(), ZIP_CREATE | ZIP_EXCL, &error);
  ASSERT_NE(archive, nullptr) << error;
  for (const std::string& name : order) {
    const std::string file = (temp.path() / "DATA" / name).string();
    zip_source_t* source = zip_source_file(archive, file.c_str(), 0, -1);
    ASSERT_NE(source, nullptr);
    const zip_int64_t index = zip_file_add(archive, name.c_str(), source, ZIP_FL_ENC_GUESS);
    ASSERT_GE(index, 0);
    ASSERT_EQ(zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                                       TZipArchive::kCompressionLevel),
              0);
  }
  ASSERT_EQ(zip_close(archive), 0);
  const std::string ours = ReadFile(temp.path() / "ours.zip");
  EXPECT_EQ(ours.size(), ReadFile(reference).size());
  EXPECT_TRUE(ours == ReadFile(reference)) << "the archives differ";
  EXPECT_EQ(zip.Check(), TZipResult::Ok) << zip.LastError();
}

TEST(ZipArchiveTest, AnExistingArchiveIsNeverChanged) {
  TempFolder temp;
  temp.Write("DATA/A.KDT", "new");
  temp.Write("BACKUP/ACME.ZIP", "an older archive");
  TZipArchive zip;
  zip.AddMask(temp.WindowsRoot() + "DATA\\*.KDT");
  zip.SetZipFilename(temp.WindowsRoot() + "BACKUP\\acme.zip");  // the same name in another case
  EXPECT_EQ(zip.Compress(), TZipResult::ArchiveExists);
  EXPECT_NE(zip.LastError().find("acme.zip exists already"), std::string::npos) << zip.LastError();
  EXPECT_EQ(ReadFile(temp.path() / "BACKUP/ACME.ZIP"), "an older archive");
  EXPECT_EQ(Tree(temp.path() / "BACKUP"), (std::set<std::string>{"ACME.ZIP"}));
}

TEST(ZipArchiveTest, CompressFailuresWriteNothing) {
  struct Case {
    const char* what;
    std::vector<std::string> masks;  // below the temporary folder
    const char* archive;
    TZipResult result;
    const char* error_part;
  };
  const Case cases[] = {
      {"no file matches", {"DATA\\*.KDM"}, "BACKUP\\X.zip", TZipResult::NoFiles, "no file matches the masks"},
      {"the archive's folder is missing",
       {"DATA\\*.KDT"},
       "MISSING\\X.zip",
       TZipResult::WriteFailed,
       "cannot write the archive"},
      {"two files would get one name",
       {"DATA\\*.KDT", "OTHER\\*.KDT"},
       "BACKUP\\X.zip",
       TZipResult::WriteFailed,
       "two files would be stored as A.KDT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    temp.Write("DATA/A.KDT", "a");
    temp.Write("OTHER/A.KDT", "another a");
    temp.MakeFolder("BACKUP");
    TZipArchive zip;
    for (const std::string& mask : c.masks) zip.AddMask(temp.WindowsRoot() + mask);
    zip.SetZipFilename(temp.WindowsRoot() + c.archive);
    EXPECT_EQ(zip.Compress(), c.result);
    EXPECT_NE(zip.LastError().find(c.error_part), std::string::npos) << zip.LastError();
    EXPECT_EQ(Tree(temp.path() / "BACKUP"), std::set<std::string>{});
  }
}

TEST(ZipArchiveTest, CheckFindsEveryDifferenceFromTheFiles) {
  struct Case {
    const char* what;
    std::function<void(const TempFolder&)> change;
    const char* error_part;
  };
  const Case cases[] = {
      {"a file changed", [](const TempFolder& t) { t.Write("DATA/B.KDT", "b, changed"); },
       "the entry B.KDT of the archive"},
      {"same size, other bytes", [](const TempFolder& t) { t.Write("DATA/B.KDT", "B"); }, "does not match"},
      {"a file removed", [](const TempFolder& t) { fs::remove(t.path() / "DATA/B.KDT"); },
       "holds 2 entries instead of 1"},
      {"a file added", [](const TempFolder& t) { t.Write("DATA/C.KDT", "c"); }, "holds 2 entries instead of 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    temp.Write("DATA/A.KDT", "a");
    temp.Write("DATA/B.KDT", "b");
    TZipArchive zip;
    zip.AddMask(temp.WindowsRoot() + "DATA\\*.KDT");
    zip.SetZipFilename(temp.WindowsRoot() + "X.zip");
    ASSERT_EQ(zip.Compress(), TZipResult::Ok) << zip.LastError();
    ASSERT_EQ(zip.Check(), TZipResult::Ok) << zip.LastError();
    c.change(temp);
    EXPECT_EQ(zip.Check(), TZipResult::CheckFailed);
    EXPECT_NE(zip.LastError().find(c.error_part), std::string::npos) << zip.LastError();
  }
}

TEST(ZipArchiveTest, ExtractWritesTheMatchingEntriesWithTheirPathsAndReplacesFiles) {
  TempFolder temp;
  const std::string archive = (temp.path() / "wallpaper.zip").string();
  WriteWithPython(archive, {{"wallpaper.jpg", "new picture"},
                            {"readme.txt", "not asked for"},
                            {"PICS/Inner.JPG", "inner picture"},
                            {"PICS/notes.txt", "not asked for either"}});
  temp.Write("IMAGE/WALLPAPER.JPG", "old picture");  // the same file in another case

  TZipArchive zip;
  zip.SetZipFilename(temp.WindowsRoot() + "WALLPAPER.ZIP");
  zip.SetUnzipToFolder(temp.WindowsRoot() + "image");
  zip.AddMask("*.jpg");
  ASSERT_EQ(zip.Extract(), TZipResult::Ok) << zip.LastError();
  EXPECT_EQ(Tree(temp.path() / "IMAGE"), (std::set<std::string>{"WALLPAPER.JPG", "PICS/", "PICS/Inner.JPG"}));
  EXPECT_EQ(ReadFile(temp.path() / "IMAGE/WALLPAPER.JPG"), "new picture");
  EXPECT_EQ(ReadFile(temp.path() / "IMAGE/PICS/Inner.JPG"), "inner picture");
  // The entry's date travels with it.
  const double stamped = support::EncodeDate(2009, 9, 17) + (22 * 3600 + 5 * 60 + 8) / 86400.0;
  EXPECT_NEAR(*FileModifiedDate(temp.WindowsRoot() + "IMAGE\\wallpaper.jpg"), stamped, 1.0 / 86400);

  // A missing folder is made; no mask means every entry.
  zip.SetFilesToProcess("");
  zip.SetUnzipToFolder(temp.WindowsRoot() + "NEW\\PLACE");
  ASSERT_EQ(zip.Extract(), TZipResult::Ok) << zip.LastError();
  EXPECT_EQ(Tree(temp.path() / "NEW/PLACE"),
            (std::set<std::string>{"wallpaper.jpg", "readme.txt", "PICS/", "PICS/Inner.JPG", "PICS/notes.txt"}));

  zip.AddMask("*.kdt");
  EXPECT_EQ(zip.Extract(), TZipResult::NoFiles);
  zip.SetZipFilename(temp.WindowsRoot() + "absent.zip");
  EXPECT_EQ(zip.Extract(), TZipResult::ArchiveNotFound);
}

TEST(ZipArchiveTest, UnsafeEntriesAreRefusedBeforeAnythingIsWritten) {
  const char* const unsafe[] = {"../evil.jpg", "..\\evil.jpg", "PICS/../../evil.jpg", "/tmp/evil.jpg",
                                "\\evil.jpg",  "C:evil.jpg",   "c:/evil.jpg",         "..",
                                "caf\xC3\xA9\n.jpg", "caf\xC3\xA9\xC2\x85.jpg"};
  for (const char* name : unsafe) {
    SCOPED_TRACE(name);
    TempFolder temp;
    const std::string archive = (temp.path() / "bad.zip").string();
    // A harmless entry first: it must not be written either.
    WriteWithPython(archive, {{"good.jpg", "good"}, {name, "evil"}});
    TZipArchive zip;
    zip.SetZipFilename(archive);
    zip.SetUnzipToFolder(temp.WindowsRoot() + "OUT\\DEEPER");
    try {
      zip.Extract();
      ADD_FAILURE() << "extracted";
    } catch (const EZipError& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + name + "\""), std::string::npos) << e.what();
    }
    EXPECT_THROW(zip.TestArchive(), EZipError);
    EXPECT_EQ(Tree(temp.path()), (std::set<std::string>{"bad.zip"}));
    // Extracting only the harmless entry is allowed.
    zip.AddMask("good.jpg");
    EXPECT_EQ(zip.Extract(), TZipResult::Ok) << zip.LastError();
    EXPECT_EQ(ReadFile(temp.path() / "OUT/DEEPER/good.jpg"), "good");
  }
}

// Whether extracting would change anything: only when every selected file
// entry holds exactly the bytes of its file is the answer yes; an entry the
// masks leave out does not count, and an unsafe name fails as in Extract.
TEST(ZipArchiveTest, SelectedEntriesHoldFilesOnlyWhenEveryByteIsTheSame) {
  struct Case {
    const char* what;
    std::function<void(const TempFolder&)> change;
    bool same;
  };
  const Case cases[] = {
      {"the same files", [](const TempFolder&) {}, true},
      {"a file the masks leave out differs", [](const TempFolder& t) { t.Write("DATA/NOTES.TXT", "other"); }, true},
      {"one byte differs", [](const TempFolder& t) { t.Write("DATA/B.KDT", "bbbX"); }, false},
      {"a file is longer", [](const TempFolder& t) { t.Write("DATA/B.KDT", "bbbbb"); }, false},
      {"a file is missing", [](const TempFolder& t) { fs::remove(t.path() / "DATA/SUB/C.KDT"); }, false},
      {"a file is a folder",
       [](const TempFolder& t) {
         fs::remove(t.path() / "DATA/A.KDT");
         t.MakeFolder("DATA/A.KDT");
       },
       false},
  };
  const std::string big(40000, 'q');  // more than one read of the file
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempFolder temp;
    const std::string archive = (temp.path() / "T.zip").string();
    WriteWithPython(archive, {{"A.KDT", big}, {"B.KDT", "bbbb"}, {"SUB/", ""}, {"SUB/C.KDT", ""}, {"NOTES.TXT", "n"}});
    temp.Write("DATA/A.KDT", big);
    temp.Write("DATA/B.KDT", "bbbb");
    temp.Write("DATA/SUB/C.KDT", "");
    temp.Write("DATA/NOTES.TXT", "n");
    c.change(temp);
    TZipArchive zip;
    zip.SetZipFilename(archive);
    zip.AddMask("*.KDT");
    const auto in_data = [&](const std::string& name) { return (temp.path() / "DATA" / name).string(); };
    EXPECT_EQ(zip.SelectedEntriesHoldFiles(in_data), c.same);
    EXPECT_FALSE(zip.SelectedEntriesHoldFiles([](const std::string&) { return std::string(); }));
  }
  TempFolder temp;
  const std::string archive = (temp.path() / "T.zip").string();
  WriteWithPython(archive, {{"A.KDT", "a"}, {"../UP.KDT", "up"}});
  temp.Write("A.KDT", "a");
  TZipArchive zip;
  zip.SetZipFilename(archive);
  EXPECT_THROW(zip.SelectedEntriesHoldFiles([&](const std::string& name) { return (temp.path() / name).string(); }),
               EZipError);
  zip.SetZipFilename((temp.path() / "MISSING.zip").string());
  EXPECT_FALSE(zip.SelectedEntriesHoldFiles([&](const std::string& name) { return (temp.path() / name).string(); }));
}

TEST(ZipArchiveTest, ADamagedEntryLeavesTheFileItWouldReplaceAsItWas) {
  TempFolder temp;
  const std::string archive = (temp.path() / "damaged.zip").string();
  const std::string content = "the content of the table file";
  WriteWithPython(archive, {{"A.KDT", content}}, /*stored=*/true);
  std::string bytes = ReadFile(archive);
  const std::size_t at = bytes.find(content);
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'T';  // the CRC no longer matches
  std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;
  temp.Write("OUT/A.KDT", "before");

  TZipArchive zip;
  zip.SetZipFilename(archive);
  EXPECT_EQ(zip.TestArchive(), TZipResult::ReadFailed);
  EXPECT_NE(zip.LastError().find("the entry A.KDT"), std::string::npos) << zip.LastError();
  zip.SetUnzipToFolder(temp.WindowsRoot() + "OUT");
  EXPECT_EQ(zip.Extract(), TZipResult::ReadFailed);
  EXPECT_EQ(ReadFile(temp.path() / "OUT/A.KDT"), "before");
  EXPECT_EQ(Tree(temp.path() / "OUT"), (std::set<std::string>{"A.KDT"}));
  EXPECT_EQ(ReadWithPython(archive).verdict, "BAD A.KDT");  // the independent reader agrees
}

}  // namespace
}  // namespace kx8::platform
