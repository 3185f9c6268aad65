// Company backup and file housekeeping over a temporary root folder with a
// scripted UI: what a backup archive holds and how it is named, failed
// backups, the wallpaper, the clean-ups, and the restore of a company
// (refusals, and a restore cut short and completed later).
// Archives are read with Python's zipfile as well as with our component.
#include "console/housekeeping.h"
#include "console/restore.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "../platform/zip_test_support.h"
#include "root_fixture.h"
#include "platform/program_info.h"
#include "platform/staged_move.h"
#include "platform/scripted_ui.h"
#include "register/company_register.h"
#include "support/helpers.h"

namespace kx8::console {
namespace {

namespace fs = std::filesystem;
using platform::test_support::ReadWithPython;
using platform::test_support::WriteWithPython;

const char* const kSixMasks[] = {"*.kdt", "*.kdi", "*.kdm", "*.kdd", "*.km", "*.ki"};

// 17 September 2009 at the given time of day.
double At(int hour, int minute, int second) {
  return support::EncodeDate(2009, 9, 17) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every file and folder below `folder` (folders with a trailing "/") with
// the files' contents.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> out;
  if (!fs::exists(folder)) return out;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_directory()) {
      out[name + "/"] = "";
    } else {
      out[name] = ReadFile(entry.path());
    }
  }
  return out;
}

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& [name, content] : Snapshot(folder)) out.insert(name);
  return out;
}

// The archive as Python's zipfile reads it, every CRC tested: name -> data.
std::map<std::string, std::string> PythonContents(const fs::path& archive) {
  const platform::test_support::PyListing listing = ReadWithPython(archive.string());
  EXPECT_EQ(listing.verdict, "OK") << archive;
  std::map<std::string, std::string> out;
  for (const auto& entry : listing.entries) {
    EXPECT_EQ(entry.method, 8) << entry.name;
    out[entry.name] = entry.data;
  }
  return out;
}

// Permissions do not bind the superuser; while this lives, a test run as
// root works as the user "nobody".
class ScopedUnprivileged {
 public:
  ScopedUnprivileged() : dropped_(::geteuid() == 0 && ::seteuid(65534) == 0) {}
  ~ScopedUnprivileged() {
    if (dropped_ && ::seteuid(0) != 0) std::abort();
  }
  ScopedUnprivileged(const ScopedUnprivileged&) = delete;
  ScopedUnprivileged& operator=(const ScopedUnprivileged&) = delete;
  bool Bound() const { return ::geteuid() != 0; }

 private:
  bool dropped_;
};

// A zip64 archive of one stored entry whose central directory declares
// 2^60 bytes (the data itself is four bytes).
void WriteHugeDeclaredArchive(const fs::path& archive) {
  platform::test_support::RunPython(R"(
import sys, struct, zlib
data, name, huge = b'tiny', b'EMPLOYEE.KDT', 1 << 60
crc = zlib.crc32(data)
extra = struct.pack('<HHQQ', 1, 16, huge, len(data))
local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF, 0xFFFFFFFF,
                    len(name), len(extra)) + name + extra + data
central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 45, 45, 0, 0, 0, 0x21, crc, 0xFFFFFFFF,
                      0xFFFFFFFF, len(name), len(extra), 0, 0, 0, 0, 0) + name + extra
end = struct.pack('<IHHHHIIH', 0x06054b50, 0, 0, 1, 1, len(central), len(local), 0)
open(sys.argv[1], 'wb').write(local + central + end)
)",
                                    {archive.string()});
}

class HousekeepingTest : public RootWithRegisterTest {
 protected:
  HousekeepingTest() : RootWithRegisterTest("kx8-housekeeping") {}
  void SetUp() override {
    RootWithRegisterTest::SetUp();
    form_ = std::make_unique<TMainForm>(ui_);
    form_->FormCreate();
    ASSERT_EQ(form_->RootFolder(), root_);
    ui_.Clear();
  }
  void TearDown() override {
    form_.reset();
    RootWithRegisterTest::TearDown();
  }

  fs::path Company(const std::string& code) const { return base_ / "COMPANY" / code; }

  void Write(const fs::path& file, const std::string& content) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
  }

  std::string Windows(const fs::path& path) const {
    std::string text = path.string();
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  bool Backup(const std::string& code, double when) {
    return BackupCompany(*form_, zip_, code, when, platform::EnglishFormatSettings());
  }

  platform::ScriptedUi ui_;
  std::unique_ptr<TMainForm> form_;
  platform::TZipArchive zip_;  // stands in for the window's ZipArchive1
};

TEST_F(HousekeepingTest, TheArchiveNameCarriesTheLongDateTheHourTheSecondsAndTheMarker) {
  platform::FormatSettings dotted = platform::EnglishFormatSettings();
  dotted.time_am_string = "a.m.";
  dotted.time_pm_string = "p.m.";
  struct Case {
    double when;
    const platform::FormatSettings settings;
    const char* stamp;
  };
  const Case cases[] = {
      {At(22, 5, 7), platform::EnglishFormatSettings(), "Thursday, 17 September 20091007 PM"},
      {At(0, 30, 0), dotted, "Thursday, 17 September 20091200 a.m."},
      {At(11, 59, 59), dotted, "Thursday, 17 September 20091159 a.m."},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BackupArchiveName(root_, "ACME", c.when, c.settings), root_ + "BACKUP\\ACME " + c.stamp + ".zip");
  }
}

TEST_F(HousekeepingTest, TheBackupHoldsTheDatabaseFilesDirectlyInTheCompanyFolder) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> files;  // below the company folder
    std::set<std::string> archived;
  };
  const Case cases[] = {
      {"every mask present",
       {{"EMPLOYEE.KDT", std::string(200000, 'e')},
        {"EMPLOYEE.KDI", "ei"},
        {"EMPLOYEE.KDM", "em"},
        {"ACME.kdd", "dictionary"},
        {"ACME.km", "dm"},
        {"ACME.ki", "di"},
        {"NOTES.TXT", "notes"},
        {"EMPLOYEE.KDT.BAK", "copy"},
        {"OLD/OLD.KDT", "old"},
        {"OLD/OLD.KDI", "old index"}},
       {"EMPLOYEE.KDT", "EMPLOYEE.KDI", "EMPLOYEE.KDM", "ACME.kdd", "ACME.km", "ACME.ki"}},
      {"no dictionary files",
       {{"payPARA.kdt", "p"}, {"PAYPARA.KDI", "pi"}, {"OLD/X.kdt", "x"}},
       {"payPARA.kdt", "PAYPARA.KDI"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(base_ / "COMPANY");
    fs::remove_all(base_ / "BACKUP");
    fs::create_directories(base_ / "BACKUP");
    for (const auto& [name, content] : c.files) Write(Company("ACME") / name, content);
    const auto before = Snapshot(Company("ACME"));

    ASSERT_TRUE(Backup("ACME", At(22, 5, 7))) << ui_.Lines().back();
    EXPECT_TRUE(ui_.Lines().empty());
    const fs::path archive = base_ / "BACKUP" / "ACME Thursday, 17 September 20091007 PM.zip";
    EXPECT_EQ(zip_.ZipFilename(), root_ + "BACKUP\\ACME Thursday, 17 September 20091007 PM.zip");
    EXPECT_EQ(Names(base_ / "BACKUP"), std::set<std::string>{archive.filename().string()});

    std::map<std::string, std::string> expected;
    for (const std::string& name : c.archived) expected[name] = c.files.at(name);
    EXPECT_EQ(PythonContents(archive), expected);
    // Our own reader, against the folder as the six masks find it.
    std::vector<std::string> masks;
    for (const char* mask : kSixMasks) masks.push_back(root_ + "COMPANY\\ACME\\" + mask);
    EXPECT_EQ(zip_.FilesToProcess(), masks);
    EXPECT_EQ(zip_.Check(), platform::TZipResult::Ok) << zip_.LastError();
    EXPECT_EQ(Snapshot(Company("ACME")), before);
  }
}

TEST_F(HousekeepingTest, ABackupInTheSameHourAtTheSameSecondGetsANewArchive) {
  fs::create_directories(base_ / "BACKUP");
  const std::string stem = "ACME Thursday, 17 September 20091007 PM";
  const std::string versions[] = {"first", "second", "third"};
  const std::string names[] = {stem + ".zip", stem + " (2).zip", stem + " (3).zip"};
  std::string first_archive;
  for (int i = 0; i < 3; ++i) {
    Write(Company("ACME") / "EMPLOYEE.KDT", versions[i]);
    ASSERT_TRUE(Backup("ACME", At(22, 5 + 20 * i, 7))) << ui_.Lines().back();
    EXPECT_EQ(zip_.ZipFilename(), root_ + "BACKUP\\" + names[i]);
    if (i == 0) first_archive = ReadFile(base_ / "BACKUP" / names[0]);
  }
  EXPECT_EQ(ReadFile(base_ / "BACKUP" / names[0]), first_archive);  // never touched again
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(PythonContents(base_ / "BACKUP" / names[i]),
              (std::map<std::string, std::string>{{"EMPLOYEE.KDT", versions[i]}}));
  }
  EXPECT_EQ(Names(base_ / "BACKUP"), (std::set<std::string>{names[0], names[1], names[2]}));
}

TEST_F(HousekeepingTest, AFailedBackupNamesTheCompanyAndTheArchiveAndChangesNothing) {
  const std::string archive = root_ + "BACKUP\\ACME Thursday, 17 September 20091007 PM.zip";
  struct Case {
    const char* what;
    std::function<void()> arrange;
    bool unprivileged;
    std::string reason;
  };
  const Case cases[] = {
      {"a read-only backup folder",
       [&] {
         fs::create_directories(base_ / "BACKUP");
         fs::permissions(base_ / "BACKUP", fs::perms::owner_all, fs::perm_options::remove);
         fs::permissions(base_ / "BACKUP", fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::add);
       },
       true, "cannot write the archive " + archive + ": Permission denied"},
      {"no backup folder", [] {}, false, "cannot write the archive " + archive + ": No such file or directory"},
      {"an unreadable table file",
       [&] {
         fs::create_directories(base_ / "BACKUP");
         fs::permissions(Company("ACME") / "EMPLOYEE.KDI", fs::perms::none);
       },
       true,
       "cannot write the archive " + archive + ": cannot read " + (Company("ACME") / "EMPLOYEE.KDI").string() +
           ": Permission denied"},
      {"no database file",
       [&] {
         fs::create_directories(base_ / "BACKUP");
         fs::remove(Company("ACME") / "EMPLOYEE.KDT");
         fs::remove(Company("ACME") / "EMPLOYEE.KDI");
       },
       false,
       "the folder " + root_ + "COMPANY\\ACME holds no database file; the archive " + archive + " was not written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (fs::exists(base_ / "BACKUP")) fs::permissions(base_ / "BACKUP", fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(base_ / "BACKUP");
    fs::remove_all(base_ / "COMPANY");
    Write(Company("ACME") / "EMPLOYEE.KDT", "table");
    Write(Company("ACME") / "EMPLOYEE.KDI", "index");
    Write(Company("ACME") / "NOTES.TXT", "notes");
    c.arrange();
    const auto before = Snapshot(base_);
    ui_.Clear();
    bool backed_up = true;
    {
      // Everything the unprivileged user needs to read is readable by all.
      ScopedUnprivileged unprivileged;
      if (c.unprivileged && !unprivileged.Bound()) {
        ADD_FAILURE() << "cannot drop the superuser's rights for this case";
        continue;
      }
      backed_up = Backup("ACME", At(22, 5, 7));
    }
    EXPECT_FALSE(backed_up);
    EXPECT_EQ(ui_.Lines(), std::vector<std::string>{"message: Backup of company ACME failed: " + c.reason +
                                                    ". The company was not updated."});
    EXPECT_EQ(Snapshot(base_), before);
  }
}

TEST_F(HousekeepingTest, TheWallpaperIsExtractedWhenItsArchiveIsThere) {
  // Absent: nothing happens, nothing is said.
  ExtractWallpaper(*form_, zip_);
  EXPECT_TRUE(ui_.Lines().empty());
  EXPECT_FALSE(fs::exists(base_ / "IMAGE"));
  EXPECT_EQ(zip_.ZipFilename(), root_ + "wallpaper.zip");

  WriteWithPython((base_ / "WALLPAPER.ZIP").string(),
                  {{"wallpaper.jpg", "the picture"}, {"other.jpg", "not this one"}, {"readme.txt", "nor this"}});
  ExtractWallpaper(*form_, zip_);
  EXPECT_EQ(ui_.Lines(), std::vector<std::string>{"screen cursor: hourglass"});
  EXPECT_EQ(Snapshot(base_ / "IMAGE"), (std::map<std::string, std::string>{{"wallpaper.jpg", "the picture"}}));
  EXPECT_EQ(zip_.FilesToProcess(), std::vector<std::string>{"wallpaper.jpg"});

  // The next start finds it in place and leaves the file alone; a file that
  // differs from the archive's, or an archive that changed, is extracted.
  const fs::path picture = base_ / "IMAGE" / "wallpaper.jpg";
  // A second name for the file shows whether it was replaced (a new file
  // has one name).
  fs::create_hard_link(picture, base_ / "watch");
  ExtractWallpaper(*form_, zip_);
  EXPECT_EQ(fs::hard_link_count(picture), 2u) << "the unchanged wallpaper was written again";
  Write(picture, "edited here");
  ExtractWallpaper(*form_, zip_);
  EXPECT_EQ(ReadFile(picture), "the picture");
  WriteWithPython((base_ / "WALLPAPER.ZIP").string(), {{"wallpaper.jpg", "a new picture"}});
  ExtractWallpaper(*form_, zip_);
  EXPECT_EQ(ReadFile(picture), "a new picture");
}

TEST_F(HousekeepingTest, TheCompanyFolderCleanUpRemovesBackupAndTemporaryFilesOnly) {
  for (const char* name : {"NOTES.~TXT", "TEMP_X.KDT", "temp_y", "X.KDT.BAK", "y.kdi.bak", "TEMPLATE.KDT",
                           "EMPLOYEE.KDT", "OLD.BAK/A.KDT", "TEMP_DIR/B.KDT", "NOTES.TXT"}) {
    Write(Company("ACME") / name, name);
  }
  Write(base_ / "COMPANY" / "OTHER" / "X.KDT.BAK", "another company");
  CleanCompanyFolder(*form_, "ACME");
  EXPECT_EQ(Names(Company("ACME")), (std::set<std::string>{"TEMPLATE.KDT", "EMPLOYEE.KDT", "OLD.BAK/", "OLD.BAK/A.KDT",
                                                           "TEMP_DIR/", "TEMP_DIR/B.KDT", "NOTES.TXT"}));
  EXPECT_TRUE(fs::exists(base_ / "COMPANY" / "OTHER" / "X.KDT.BAK"));
  EXPECT_TRUE(ui_.Lines().empty());
}

TEST_F(HousekeepingTest, BackupCopiesAreRemovedForTheListedTablesWhoseDataCopyExists) {
  for (const char* name : {"EMPLOYEE.KDT.BAK", "EMPLOYEE.KDM.BAK",  // EMPLOYEE.KDI.BAK is missing
                           "p_dtrxaw.kdt.bak", "P_DTRXAW.KDI.BAK",  // found in any case
                           "PASS.KDI.BAK",                          // without PASS.KDT.BAK: kept
                           "OTHER.KDT.BAK", "OTHER.KDI.BAK",        // not a listed table
                           "EMPLOYEE.KDT"}) {
    Write(Company("ACME") / name, name);
  }
  form_->DbConnection1.SetConnectPath(root_ + "COMPANY\\ACME");
  form_->DbConnection1.SetIsConnected(true);
  // An earlier step left the work table open: it is closed, not an error.
  form_->DbTable1.SetTableName("WORKLEFT");
  form_->DbTable1.FieldDefs().Add("CODE", dbaccess::ftString, 4);
  form_->DbTable1.CreateTable();
  form_->DbTable1.Open();
  RemoveBackupFiles(*form_);
  EXPECT_FALSE(form_->DbTable1.Active());
  for (const char* ext : {".KDT", ".KDI", ".KDM"}) fs::remove(Company("ACME") / (std::string("WORKLEFT") + ext));
  EXPECT_EQ(Names(Company("ACME")),
            (std::set<std::string>{"PASS.KDI.BAK", "OTHER.KDT.BAK", "OTHER.KDI.BAK", "EMPLOYEE.KDT"}));
  EXPECT_EQ(form_->DbTable1.TableName(), "PASS.KDT.BAK");
  EXPECT_TRUE(ui_.Lines().empty());
}

TEST_F(HousekeepingTest, TheTemporaryFolderIsEmptiedOfTablesAndNoOtherFolderIs) {
  const std::set<std::string> files = {"A.KDT", "b.kdi", "C.KDM", "D.KDT.BAK", "SUB.KDT/E.KDT"};
  for (const char* folder : {"KELPATMP", "OTHERTMP"}) {
    for (const std::string& name : files) Write(base_ / folder / name, name);
  }
  EmptyTemporaryFolder(*form_);
  EXPECT_EQ(Names(base_ / "KELPATMP"), (std::set<std::string>{"C.KDM", "D.KDT.BAK", "SUB.KDT/", "SUB.KDT/E.KDT"}));

  // Refused: paths without "KELPATMP", also once ".." has been taken out.
  for (const std::string& folder : {root_ + "OTHERTMP\\", root_ + "KELPATMP\\..\\OTHERTMP", root_}) {
    EmptyTemporaryFolder(folder);
  }
  EXPECT_EQ(Names(base_ / "OTHERTMP"),
            (std::set<std::string>{"A.KDT", "b.kdi", "C.KDM", "D.KDT.BAK", "SUB.KDT/", "SUB.KDT/E.KDT"}));
  fs::remove_all(base_ / "KELPATMP");
  EmptyTemporaryFolder(*form_);  // a missing folder is no error
  EXPECT_TRUE(ui_.Lines().empty());
}

TEST_F(HousekeepingTest, RestorePutsTheArchivedFilesBackAfterAsking) {
  fs::create_directories(base_ / "BACKUP");
  Write(Company("ACME") / "EMPLOYEE.KDT", "table as backed up");
  Write(Company("ACME") / "EMPLOYEE.KDI", "index as backed up");
  Write(Company("ACME") / "ACME.kdd", "dictionary as backed up");
  ASSERT_TRUE(Backup("ACME", At(22, 5, 7)));
  const std::string archive = zip_.ZipFilename();
  const std::string folder = root_ + "COMPANY\\ACME";
  // What a failed upgrade might leave.
  Write(Company("ACME") / "EMPLOYEE.KDT", "table half upgraded");
  fs::remove(Company("ACME") / "ACME.kdd");
  Write(Company("ACME") / "NEW.KDT", "a table the upgrade added");
  const auto after_upgrade = Snapshot(Company("ACME"));

  const std::string listing = "message: The archive " + archive + " holds 3 files of 59 bytes in all for the folder " +
                              folder + ".\nFiles replaced:\n  EMPLOYEE.KDT\n  EMPLOYEE.KDI\nFiles added:\n  ACME.kdd"
                              "\nDatabase files the archive does not hold, left as they are:\n  NEW.KDT";
  const std::string question = "confirm: Do you wish to replace the files of the folder with those of the archive ?";

  ui_.Clear();
  ui_.Answer({false});
  EXPECT_EQ(RestoreCompany(archive, folder, ui_), RestoreOutcome::Declined);
  EXPECT_EQ(ui_.Lines(), (std::vector<std::string>{listing, question}));
  EXPECT_EQ(Snapshot(Company("ACME")), after_upgrade);

  ui_.Clear();
  ui_.Answer({true});
  EXPECT_EQ(RestoreCompany(archive, folder, ui_), RestoreOutcome::Restored);
  EXPECT_EQ(ui_.Lines(),
            (std::vector<std::string>{listing, question, "message: 3 files restored into " + folder + "."}));
  EXPECT_EQ(Snapshot(Company("ACME")), (std::map<std::string, std::string>{{"EMPLOYEE.KDT", "table as backed up"},
                                                                           {"EMPLOYEE.KDI", "index as backed up"},
                                                                           {"ACME.kdd", "dictionary as backed up"},
                                                                           {"NEW.KDT", "a table the upgrade added"}}));
}

TEST_F(HousekeepingTest, RestoreRefusesAnUnsafeOrDamagedArchiveBeforeAskingOrWriting) {
  Write(Company("ACME") / "EMPLOYEE.KDT", "current");
  const fs::path bad = base_ / "bad.zip";
  struct Case {
    const char* what;
    std::function<void()> arrange;
    const char* error_part;
  };
  const Case cases[] = {
      {"an entry that climbs out",
       [&] {
         WriteWithPython(bad.string(), {{"EMPLOYEE.KDT", "restored"}, {"../../evil.KDT", "evil"}});
       },
       "\"../../evil.KDT\""},
      {"a damaged entry",
       [&] {
         WriteWithPython(bad.string(), {{"EMPLOYEE.KDT", "restored"}}, /*stored=*/true);
         std::string bytes = ReadFile(bad);
         bytes[bytes.find("restored")] = 'R';
         std::ofstream(bad, std::ios::binary | std::ios::trunc) << bytes;
       },
       "the entry EMPLOYEE.KDT"},
      {"a control character in a name",
       [&] { WriteWithPython(bad.string(), {{"EMPLOYEE.KDT", "restored"}, {"PAY\xC3\xA9\n.KDT", "x"}}); },
       "control character"},
      {"two entries naming one file in different letter case",
       [&] { WriteWithPython(bad.string(), {{"EMPLOYEE.KDT", "restored"}, {"employee.kdt", "other"}}); },
       "\"EMPLOYEE.KDT\" and \"employee.kdt\" name one file"},
      {"a file of the folder that is a symbolic link",
       [&] {
         Write(base_ / "outside" / "target.KDT", "outside the company");
         fs::create_symlink(base_ / "outside" / "target.KDT", Company("ACME") / "LINKED.KDT");
         WriteWithPython(bad.string(), {{"EMPLOYEE.KDT", "restored"}, {"linked.kdt", "through the link"}});
       },
       "LINKED.KDT is a symbolic link"},
      {"a sub-folder that is a symbolic link",
       [&] {
         fs::create_directory_symlink(base_ / "outside", Company("ACME") / "SUB");
         WriteWithPython(bad.string(), {{"EMPLOYEE.KDT", "restored"}, {"SUB/NEW.KDT", "through the link"}});
       },
       "SUB is a symbolic link"},
      {"an archive that declares more than the disk holds",
       [&] { WriteHugeDeclaredArchive(bad); },
       "bytes are free on the disk of"},
      {"no archive", [&] { fs::remove(bad); }, "does not exist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.arrange();
    const auto before = Snapshot(base_);
    ui_.Clear();
    try {
      RestoreCompany(Windows(bad), root_ + "COMPANY\\ACME", ui_);
      ADD_FAILURE() << "restored";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.error_part), std::string::npos) << e.what();
    }
    EXPECT_TRUE(ui_.Lines().empty());
    EXPECT_EQ(Snapshot(base_), before);
  }
}

TEST_F(HousekeepingTest, ARestoreCutShortIsCompletedAtTheNextStart) {
  fs::create_directories(base_ / "BACKUP");
  Write(Company("ACME") / "EMPLOYEE.KDT", "table as backed up");
  Write(Company("ACME") / "EMPLOYEE.KDI", "index as backed up");
  Write(Company("ACME") / "PAYPARA.KDT", "parameters as backed up");
  ASSERT_TRUE(Backup("ACME", At(22, 5, 7)));
  const auto backed_up = Snapshot(Company("ACME"));
  const std::string archive = zip_.ZipFilename();
  const std::string folder = root_ + "COMPANY\\ACME";
  const fs::path staging = base_ / "COMPANY" / "ACME.~staging";
  struct Killed {};

  for (std::size_t killed_after : {std::size_t{0}, std::size_t{2}}) {
    SCOPED_TRACE(killed_after);
    for (const auto& [name, content] : backed_up) Write(Company("ACME") / name, "upgraded " + name);
    platform::SetStagedMoveHookForTest([&](std::size_t moved) {
      if (moved == killed_after) throw Killed{};
    });
    ui_.Answer({true});
    EXPECT_THROW(RestoreCompany(archive, folder, ui_), Killed);
    platform::SetStagedMoveHookForTest(nullptr);
    // Cut short: some files are back, the others staged under the record.
    std::size_t restored = 0;
    for (const auto& [name, content] : Snapshot(Company("ACME"))) restored += content == backed_up.at(name);
    EXPECT_EQ(restored, killed_after);
    EXPECT_TRUE(fs::exists(staging / "record"));

    ui_.Clear();
    if (killed_after == 0) {
      // The next restore finishes the first one before it looks at its archive.
      ui_.Answer({false});
      EXPECT_EQ(RestoreCompany(archive, folder, ui_), RestoreOutcome::Declined);
    } else {
      FinishInterruptedRestore(folder, ui_);
    }
    ASSERT_FALSE(ui_.Lines().empty());
    EXPECT_EQ(ui_.Lines()[0], "message: The interrupted restore of " + folder + " from " + archive +
                                  " was completed: " + std::to_string(3 - killed_after) +
                                  " of its 3 files were put in place now.");
    EXPECT_EQ(Snapshot(Company("ACME")), backed_up);
    EXPECT_FALSE(fs::exists(staging));
  }

  // Cut short while still extracting (no record): the staged files are
  // dropped and the folder is left alone.
  Write(staging / "files" / "EMPLOYEE.KDT", "half extracted");
  Write(Company("ACME") / "EMPLOYEE.KDT", "upgraded");
  const auto before = Snapshot(Company("ACME"));
  ui_.Clear();
  FinishInterruptedRestore(folder, ui_);
  EXPECT_TRUE(ui_.Lines().empty());
  EXPECT_FALSE(fs::exists(staging));
  EXPECT_EQ(Snapshot(Company("ACME")), before);
}

}  // namespace
}  // namespace kx8::console
