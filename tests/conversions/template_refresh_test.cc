// The template refreshes on free-table and dictionary-bound companies: what
// is replaced and what is not, the tables taken out of the dictionary all
// coming back with their rights, whatever fails, and a process killed while
// the archive's files are moved in.
#include "conversions/template_refresh.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "conversion_fixture.h"
#include "engine/io_faults.h"
#include "platform/file_bytes.h"
#include "platform/path.h"
#include "platform/staged_move.h"
#include "platform/zip_archive.h"
#include "schema/detach_record.h"
#include "schema/dictionary_rights.h"

namespace kx8::conversions {
namespace {

namespace fs = std::filesystem;

// The CRC-32 of bytes, as an archive records it for a file.
std::uint32_t Crc32(const std::string& bytes, const std::string& scratch) {
  platform::WriteFileBytes(scratch, bytes);
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  std::string error;
  EXPECT_TRUE(platform::FileChecksum(scratch, size, crc, error)) << error;
  return crc;
}

// Changes the four bytes at `at` so that the bytes' CRC-32 is `want` again:
// the CRC of bytes of one length is affine in their bits, so the flips are
// the solution of 32 equations over GF(2).
void RestoreCrc32(std::string& bytes, std::size_t at, std::uint32_t want, const std::string& scratch) {
  const std::uint32_t now = Crc32(bytes, scratch);
  std::uint32_t effect[32], flips_of[32];
  for (int i = 0; i < 32; ++i) {
    bytes[at + i / 8] = char(bytes[at + i / 8] ^ (1 << (i % 8)));
    effect[i] = Crc32(bytes, scratch) ^ now;
    bytes[at + i / 8] = char(bytes[at + i / 8] ^ (1 << (i % 8)));
    flips_of[i] = 1u << i;
  }
  for (int bit = 0; bit < 32; ++bit) {
    int pivot = bit;
    while (pivot < 32 && !((effect[pivot] >> bit) & 1)) ++pivot;
    ASSERT_LT(pivot, 32);
    std::swap(effect[bit], effect[pivot]);
    std::swap(flips_of[bit], flips_of[pivot]);
    for (int r = 0; r < 32; ++r) {
      if (r != bit && ((effect[r] >> bit) & 1)) {
        effect[r] ^= effect[bit];
        flips_of[r] ^= flips_of[bit];
      }
    }
  }
  std::uint32_t flips = 0;
  for (int bit = 0; bit < 32; ++bit) {
    if (((now ^ want) >> bit) & 1) flips ^= flips_of[bit];
  }
  for (int i = 0; i < 32; ++i) {
    if ((flips >> i) & 1) bytes[at + i / 8] = char(bytes[at + i / 8] ^ (1 << (i % 8)));
  }
  ASSERT_EQ(Crc32(bytes, scratch), want);
}

// Every template either refresh can bring, and a table of the company's own.
const char* const kTemplates[] = {"UPDATETBL", "OUTDSK_D", "BONUS",   "OUTDSK_H", "GTABLE",  "GLOCHG",
                                  "SETCODE",   "GLPARA",   "OUTGL_D", "CHECKCODE", "PASSDEF", "PUBLIC"};
const char* const kReportTables[] = {"RBFIELD", "RBTABLE", "RBJOIN"};
constexpr char kOwnTable[] = "EMPLOYEE";

const std::vector<std::string> kOld = {"OLD"};
const std::vector<std::string> kNew = {"NEW"};

class TemplateRefreshTest : public ConversionTest {
 protected:
  static std::vector<std::string> AllTables() {
    std::vector<std::string> all(std::begin(kTemplates), std::end(kTemplates));
    all.insert(all.end(), std::begin(kReportTables), std::end(kReportTables));
    all.push_back(kOwnTable);
    return all;
  }

  // The company's copy of every table, one row "OLD"; RBFIELD and RBTABLE
  // encrypted with the administrator password on free tables, as the
  // application keeps them (a dictionary encrypts with its own key).
  void MakeCompanyTables(bool free_tables = true) {
    for (const std::string& t : AllTables()) {
      MakeTable(t, Texts({"CODE"}), {{"OLD"}}, free_tables && (t == "RBFIELD" || t == "RBTABLE"));
    }
  }

  // An archive in the root folder holding the archive's copy of each table
  // (one row "NEW").
  void MakeArchive(const std::string& name, const std::vector<std::string>& tables) {
    const std::string source = base_.string() + "/source-" + name + "/";
    fs::create_directories(source);
    for (const std::string& t : tables) {
      dbaccess::TDbScopedTable s;
      s.Connection().SetConnectPath(source);
      s.Table().SetTableName(t);
      s.Table().FieldDefs().Add({"CODE", dbaccess::ftString, 12, 0});
      s.Table().CreateTable();
      s.Table().Open();
      s.Table().Append();
      s.Table().FieldByName("CODE").SetAsString("NEW");
      s.Table().Post();
    }
    platform::TZipArchive zip;
    zip.AddMask(source + "*.*");
    zip.SetZipFilename(root_ + name);
    ASSERT_EQ(zip.Compress(), platform::TZipResult::Ok) << zip.LastError();
    fs::remove_all(source);
  }
  void MakeArchives() {
    MakeArchive("UPDATEKX8.ZIP", AllTables());
    MakeArchive("RPTDATA.ZIP", {"RBFIELD", "RBTABLE", "RBJOIN", kOwnTable});
  }

  // The dictionary-bound company: every table but GLPARA in the dictionary,
  // BONUS under its file name and encrypted, RBFIELD encrypted.
  void MakeDictionaryCompany() {
    MakeCompanyTables(false);
    std::vector<std::pair<std::string, bool>> bound;
    for (const std::string& t : AllTables()) {
      if (t == "GLPARA") continue;
      bound.emplace_back(t == "BONUS" ? "BONUS.KDT" : t, t == "BONUS" || t == "RBFIELD");
    }
    MakeDictionary(bound);
    // With the rights and automatic creation the application's tables have.
    schema::UpgradeContext& ctx = Context();
    for (const auto& [t, encrypted] : bound) schema::GrantTableRights(ctx, t, true);
  }

  std::vector<std::string> Codes(const std::string& table) { return Rows(table, {"CODE"}); }

  // The date and inode of every file of the company folder: a file written
  // in any way shows.
  std::map<std::string, std::pair<fs::file_time_type, std::uintmax_t>> FolderIdentities() {
    std::map<std::string, std::pair<fs::file_time_type, std::uintmax_t>> out;
    for (const fs::directory_entry& e : fs::directory_iterator(platform::ResolvePath(folder_))) {
      struct stat st {};
      EXPECT_EQ(::stat(e.path().c_str(), &st), 0);
      out[e.path().filename().string()] = {e.last_write_time(), st.st_ino};
    }
    return out;
  }

  // What the next connect of the company does after a killed run.
  void AsTheNextConnect() {
    platform::FinishStagedMoves(folder_);
    schema::RestoreDetachedTables(kdd_);
  }

  // Every table in the dictionary, with automatic creation, readable by
  // the application's users, holding the company's row or the archive's.
  void ExpectEveryTableBackAndWhole(bool record_done = true) {
    std::vector<std::string> listed = Tables();
    for (const std::string& t : AllTables()) {
      SCOPED_TRACE(t);
      EXPECT_NE(std::find(listed.begin(), listed.end(), t), listed.end()) << ::testing::PrintToString(listed);
      EXPECT_EQ(Property(t, 203), 1);
      EXPECT_TRUE(UserCanRead("USER88", t));
      const std::vector<std::string> rows = Codes(t);
      EXPECT_TRUE(rows == kOld || rows == kNew) << ::testing::PrintToString(rows);
    }
    if (record_done) {
      EXPECT_TRUE(schema::ReadDetachRecord(folder_).empty());
    }
  }

  platform::TZipArchive zip_;
};

// Without the archives nothing changes, and only the missing report-writer
// archive is named.
TEST_F(TemplateRefreshTest, WithoutTheArchivesNothingChanges) {
  for (bool dictionary : {false, true}) {
    SCOPED_TRACE(dictionary);
    Fresh();
    if (dictionary) {
      MakeDictionaryCompany();
    } else {
      MakeCompanyTables();
    }
    schema::UpgradeContext& ctx = Context();
    ReleaseTemplateRefresh(ctx, zip_, "UPDATEKX8.ZIP");
    EXPECT_TRUE(ui_.Messages().empty());
    ReportWriterRefresh(ctx, zip_);
    EXPECT_EQ(ui_.Messages(), std::vector<std::string>{"message: " + root_ + "RPTDATA.ZIP not existed in directory "});
    for (const std::string& t : AllTables()) EXPECT_EQ(Codes(t), kOld) << t;
    EXPECT_TRUE(ctx.company.IsConnected());
  }
}

// A free-table company: the release refresh replaces its six templates and
// nothing else, whatever masks the zip component held; the report-writer
// refresh takes every file of its archive and encrypts RBFIELD and RBTABLE
// again. A second pass leaves the same.
TEST_F(TemplateRefreshTest, AFreeTableCompanyGetsTheArchivesTemplates) {
  MakeCompanyTables();
  MakeArchives();
  schema::UpgradeContext& ctx = Context();
  zip_.AddMask("*.*");  // as the backup leaves the list
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    ReleaseTemplateRefresh(ctx, zip_, "UPDATEKX8.ZIP");
    for (const char* t : {"OUTDSK_D", "OUTDSK_H", "GTABLE", "PASSDEF", "SETCODE", "CHECKCODE"}) {
      EXPECT_EQ(Codes(t), kNew) << t;
    }
    for (const char* t : {"UPDATETBL", "BONUS", "GLOCHG", "GLPARA", "OUTGL_D", "PUBLIC"}) EXPECT_EQ(Codes(t), kOld) << t;
    EXPECT_EQ(Codes(kOwnTable), pass == 1 ? kOld : kNew);

    ReportWriterRefresh(ctx, zip_);
    for (const char* t : kReportTables) EXPECT_EQ(Codes(t), kNew) << t;
    EXPECT_EQ(Codes(kOwnTable), kNew);
    EXPECT_TRUE(StoredEncrypted("RBFIELD"));
    EXPECT_TRUE(StoredEncrypted("RBTABLE"));
    EXPECT_FALSE(StoredEncrypted("RBJOIN"));
  }
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_FALSE(fs::exists(platform::StagingFolderOf(folder_)));
}

// A free-table company whose templates match the archive: a refresh writes
// no file at all; a template changed since (a row of its own) is replaced
// by the archive's copy, the others are left alone.
TEST_F(TemplateRefreshTest, AnUpToDateFreeTableCompanyIsLeftAsItIs) {
  MakeCompanyTables();
  MakeArchives();
  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  const auto identities = [&] { return FolderIdentities(); };
  const auto before = identities();
  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  EXPECT_EQ(identities(), before);

  WithTable("GTABLE", [](dbaccess::TDbTable& t) {
    t.Append();
    t.FieldByName("CODE").SetAsString("MINE");
    t.Post();
  });
  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  EXPECT_EQ(Codes("GTABLE"), kNew);
  const auto after = identities();
  EXPECT_NE(after.at("GTABLE.KDT"), before.at("GTABLE.KDT"));
  EXPECT_EQ(after.at("OUTDSK_D.KDT"), before.at("OUTDSK_D.KDT"));
  EXPECT_FALSE(fs::exists(platform::StagingFolderOf(folder_)));
}

// A dictionary-bound company: the templates the dictionary holds are
// replaced; GLPARA, absent from the dictionary, keeps its files but is put
// back (and so refreshed on the next pass); BONUS keeps its rows and its encryption and comes back under its
// name; every table is back with automatic creation and the rights, RBJOIN
// included, unencrypted. A second pass leaves the same.
TEST_F(TemplateRefreshTest, ADictionaryCompanyHasEveryTableBackWithItsRights) {
  MakeDictionaryCompany();
  MakeArchives();
  schema::UpgradeContext& ctx = Context();
  zip_.AddMask("*.*");
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    ReleaseTemplateRefresh(ctx, zip_, "UPDATEKX8.ZIP");
    ReportWriterRefresh(ctx, zip_);
    EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
    ExpectEveryTableBackAndWhole();
    for (const char* t : {"UPDATETBL", "OUTDSK_D", "OUTDSK_H", "GTABLE", "GLOCHG", "SETCODE", "OUTGL_D", "CHECKCODE",
                          "PASSDEF", "PUBLIC", "RBFIELD", "RBTABLE", "RBJOIN"}) {
      EXPECT_EQ(Codes(t), kNew) << t;
    }
    for (const char* t : {"BONUS", kOwnTable}) EXPECT_EQ(Codes(t), kOld) << t;
    // Back in the dictionary after the first pass, GLPARA is refreshed by
    // the second.
    EXPECT_EQ(Codes("GLPARA"), pass == 1 ? kOld : kNew);
    EXPECT_EQ(Property("BONUS", 214), 1);
    EXPECT_EQ(Property("RBFIELD", 214), 1);
    EXPECT_EQ(Property("RBTABLE", 214), 1);
    EXPECT_EQ(Property("RBJOIN", 214), 0);
    EXPECT_TRUE(ctx.company.IsConnected());
    EXPECT_FALSE(ctx.dictionary.IsConnected());
    EXPECT_EQ(ctx.CompanyCode(), "ACME");
  }
}

// A dictionary company whose templates match the archive already is left
// as it is: no table leaves the dictionary and no file is written. What
// differs is still refreshed: a template another program changed between
// passes gets the archive's rows again, and a template with a right of its
// own is taken out and comes back with only the standard rights.
TEST_F(TemplateRefreshTest, AnUpToDateDictionaryCompanyIsLeftAsItIs) {
  MakeDictionaryCompany();
  MakeArchives();
  // The second pass refreshes GLPARA, put back by the first.
  for (int pass = 1; pass <= 2; ++pass) ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  const auto identities = [&] { return FolderIdentities(); };
  const auto before = identities();
  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  EXPECT_EQ(identities(), before);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  ExpectEveryTableBackAndWhole();

  // Another program between passes: a row of its own in GLOCHG, a right of
  // its own on GTABLE.
  WithTable("GLOCHG", [](dbaccess::TDbTable& t) {
    t.Append();
    t.FieldByName("CODE").SetAsString("MINE");
    t.Post();
  });
  {
    dbaccess::TDbDictionary d;
    LogOnAsAdministrator(d);
    d.SetObjectAccessRights("GTABLE", "readuser", "RWI");
  }
  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  ExpectEveryTableBackAndWhole();
  EXPECT_EQ(Codes("GLOCHG"), kNew);
  dbaccess::TDbDictionary d;
  LogOnAsAdministrator(d);
  EXPECT_EQ(d.GetObjectAccessRights("GTABLE", "readuser"), "RI");
  const auto after = identities();
  EXPECT_NE(after.at("GLOCHG.KDT"), before.at("GLOCHG.KDT"));
  EXPECT_EQ(after.at("OUTDSK_D.KDT"), before.at("OUTDSK_D.KDT"));
}

// A dictionary table whose file has the archive's size and CRC-32 but
// other bytes is refreshed all the same: the company's files are compared
// with the archive byte for byte.
TEST_F(TemplateRefreshTest, ADictionaryTableWithTheArchivesChecksumButOtherBytesIsRefreshed) {
  MakeDictionaryCompany();
  MakeArchives();
  for (int pass = 1; pass <= 2; ++pass) ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  const std::string file = platform::ResolvePath(folder_ + "\\OUTDSK_D.KDT");
  const std::string archived = platform::ReadFileBytes(file);
  const std::string scratch = base_.string() + "/crc-scratch";
  // Within the last row's slot (its text and checksum), which nothing reads
  // before the refresh.
  std::string forged = archived;
  forged[forged.size() - 2] = char(forged[forged.size() - 2] ^ 0x55);
  RestoreCrc32(forged, forged.size() - 8, Crc32(archived, scratch), scratch);
  ASSERT_NE(forged, archived);
  platform::WriteFileBytes(file, forged);

  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  EXPECT_EQ(platform::ReadFileBytes(file), archived);
  EXPECT_TRUE(ui_.Messages().empty()) << ui_.Messages().front();
  ExpectEveryTableBackAndWhole();
}

// Whichever call of the engine fails, the company is connected again and no
// table is lost: a failure while tables are taken out puts every one back
// before it is shown with the table's name; any other leaves at most the
// record, which the next connect completes.
TEST_F(TemplateRefreshTest, AFailureHalfWayLeavesEveryTableBack) {
  MakeDictionaryCompany();
  MakeArchives();
  // A first refresh grants the rights that every table keeps after it.
  ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
  bool fired = true;
  for (long n = 1; fired; n += 7) {
    SCOPED_TRACE(n);
    ui_.Clear();
    schema::UpgradeContext& ctx = Context();
    bool ended = false;
    {
      kx8test::FailNthCall fail(n);
      try {
        ReleaseTemplateRefresh(ctx, zip_, "UPDATEKX8.ZIP");
      } catch (const std::exception&) {
        ended = true;
      }
      fired = fail.fired();
    }
    const std::vector<std::string> shown = ui_.Messages();
    EXPECT_LE(shown.size(), 1u) << ::testing::PrintToString(shown);
    if (!shown.empty()) {
      // Shown only for a failure while taking out: all are back already
      // (a table whose removal failed part-way keeps its record for the
      // next connect).
      EXPECT_TRUE(ended);
      ExpectEveryTableBackAndWhole(false);
    }
    AsTheNextConnect();
    ExpectEveryTableBackAndWhole();
  }
}

// A process killed while the archive's files are moved in, the tables out
// of the dictionary: the next connect finishes the moves and puts every
// table back, each with the archive's files whole.
TEST_F(TemplateRefreshTest, AKillWhileFilesAreMovedInLeavesEveryTableWhole) {
  for (std::size_t moved : {0u, 1u, 4u, 7u}) {
    SCOPED_TRACE(moved);
    Fresh();
    MakeDictionaryCompany();
    MakeArchives();
    // GLPARA, which the fixture leaves out of the dictionary, is in it from
    // the first refresh on. The company's old copies come back after it, so
    // that the next refresh has every template to take out and replace.
    const fs::path company = platform::ResolvePath(folder_);
    const fs::path saved = base_ / "saved";
    fs::create_directories(saved);
    for (const fs::directory_entry& e : fs::directory_iterator(company)) {
      const std::string ext = e.path().extension().string();
      if (e.path().stem() != "BONUS" && (ext == ".KDT" || ext == ".KDI")) fs::copy_file(e.path(), saved / e.path().filename());
    }
    ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
    for (const fs::directory_entry& e : fs::directory_iterator(saved)) {
      fs::copy_file(e.path(), company / e.path().filename(), fs::copy_options::overwrite_existing);
    }
    fs::remove_all(saved);
    std::fflush(nullptr);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      platform::SetStagedMoveHookForTest([moved](std::size_t done) {
        if (done == moved) ::_exit(0);
      });
      ReleaseTemplateRefresh(Context(), zip_, "UPDATEKX8.ZIP");
      ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(schema::ReadDetachRecord(folder_).empty());
    AsTheNextConnect();
    ExpectEveryTableBackAndWhole();
    for (const char* t : {"OUTDSK_D", "GTABLE", "PUBLIC"}) EXPECT_EQ(Codes(t), kNew) << t;
  }
}

}  // namespace
}  // namespace kx8::conversions
