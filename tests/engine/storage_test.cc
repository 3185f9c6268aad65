// Table storage: creation from field lists, values of every type, empty
// values, memo space, deleted rows, pack, zap and deletion of the files.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

#include "engine_fixture.h"
#include "platform/folder_names.h"
#include "storage/checksum.h"

namespace kx8test {
namespace {

namespace fs = std::filesystem;

class StorageTest : public EngineTest {};

TEST_F(StorageTest, EveryFieldTypeRoundTripsThroughText) {
  struct Case {
    const char* piece;      // creation type piece
    uint16_t type;          // reported engine type
    const char* written;    // text given to DbSetField
    const char* read;       // text DbGetString gives back
  };
  const Case cases[] = {
      {"Char,8", DBE_FT_STRING, "AB  ", "AB"},
      {"Char,4", DBE_FT_STRING, "TOOLONG", "TOOL"},           // cut to the width
      {"CIChar,5", DBE_FT_CISTRING, "abc", "abc"},
      {"Logical", DBE_FT_LOGICAL, "y", "T"},
      {"Logical", DBE_FT_LOGICAL, "no", "F"},
      {"Numeric,8,2", DBE_FT_NUMERIC, "-12.5", "-12.50"},
      {"Date", DBE_FT_DATE, "2008-02-29", "20080229"},
      {"ShortDate", DBE_FT_COMPACTDATE, "20071231", "20071231"},
      {"Memo", DBE_FT_MEMO, "a long remark", "a long remark"},
      {"Binary", DBE_FT_BINARY, "bytes", "bytes"},
      {"Image", DBE_FT_IMAGE, "BMxx", "BMxx"},
      {"VarChar,20", DBE_FT_VARCHAR, "short", "short"},
      {"Double,6", DBE_FT_DOUBLE, "3.25", "3.25"},
      {"Integer", DBE_FT_INTEGER, "-2147483648", "-2147483648"},
      {"ShortInt", DBE_FT_SHORTINT, "-32768", "-32768"},
      {"Time", DBE_FT_TIME, "13:45:07", "13:45:07"},
      {"TimeStamp", DBE_FT_TIMESTAMP, "2012-01-31 08:00:00", "2012-01-31 08:00:00"},
      {"Raw,4", DBE_FT_RAW, "wxyz", "wxyz"},
      {"CurDouble,4", DBE_FT_CURDOUBLE, "1.5", "1.5"},
      {"Money", DBE_FT_MONEY, "1234567.8901", "1234567.8901"},
      {"Money", DBE_FT_MONEY, "0.00005", "0.0001"},            // half away from zero at 4 decimals
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.piece) + " <- " + c.written);
    std::string name = "T" + std::to_string(n++);
    Create(name, std::string("ID,Integer;V,") + c.piece + ";");
    DBHANDLE t = Open(name);
    uint16_t type = 0;
    DBE_OK(DbGetFieldType(t, "v", &type));  // any letter case
    EXPECT_EQ(type, c.type);
    AppendRow(t, {{"ID", "1"}, {"V", c.written}});
    DBE_OK(DbCloseTable(t));
    t = Open(name);
    EXPECT_EQ(Get(t, "V"), c.read);
    DBE_OK(DbCloseTable(t));
  }
}

TEST_F(StorageTest, AutoIncAndRowVersionAreStampedOnWrite) {
  Create("AUTO", "ID,AutoInc;NAME,Char,5;VER,RowVersion;");
  DBHANDLE t = Open("AUTO");
  for (const char* name : {"A", "B", "C"}) AppendRow(t, {{"NAME", name}});
  EXPECT_EQ(Column(t, t, "ID"), (std::vector<std::string>{"1", "2", "3"}));
  DBE_OK(DbGotoRecord(t, 2));
  DBE_OK(DbDeleteRecord(t));
  DBE_OK(DbPackTable(t));
  AppendRow(t, {{"NAME", "D"}});
  // Numbers are never given twice, also after a pack.
  EXPECT_EQ(Column(t, t, "ID"), (std::vector<std::string>{"1", "3", "4"}));
  DBE_OK(DbGotoRecord(t, 1));
  std::string v1 = Get(t, "VER");
  DBE_OK(DbSetField(t, "NAME", "Z", 1));
  DBE_OK(DbWriteRecord(t));
  EXPECT_NE(Get(t, "VER"), v1);
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, ARowWrittenBackUnchangedLeavesTheFilesAsTheyWere) {
  Create("SAME", "CODE,Char,8;AMOUNT,Money;");
  DBHANDLE t = Open("SAME", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbCreateIndex(t, nullptr, "CODE", "CODE", nullptr, nullptr, DBE_INDEX_COMPOUND, 0, nullptr));
  AppendRow(t, {{"CODE", "A1"}, {"AMOUNT", "12.5"}});
  AppendRow(t, {{"CODE", "B2"}, {"AMOUNT", "7"}});
  DBE_OK(DbCloseTable(t));
  auto bytes = [&](const char* ext) {
    std::ifstream in(dir_.File(std::string("SAME.") + ext), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string kdt = bytes("KDT"), kdi = bytes("KDI");
  const auto kdi_time = fs::last_write_time(dir_.File("SAME.KDI"));

  t = Open("SAME");
  DBE_OK(DbGotoRecord(t, 2));
  DBE_OK(DbSetField(t, "CODE", "B2", 2));
  DBE_OK(DbSetField(t, "AMOUNT", "7.0000", 6));
  DBE_OK(DbWriteRecord(t));
  DBE_OK(DbCloseTable(t));
  EXPECT_EQ(bytes("KDT"), kdt);
  EXPECT_EQ(bytes("KDI"), kdi);
  EXPECT_EQ(fs::last_write_time(dir_.File("SAME.KDI")), kdi_time);

  // A real change is still written, and found through the index.
  t = Open("SAME");
  DBE_OK(DbGotoRecord(t, 2));
  DBE_OK(DbSetField(t, "CODE", "C3", 2));
  DBE_OK(DbWriteRecord(t));
  DBE_OK(DbCloseTable(t));
  EXPECT_NE(bytes("KDT"), kdt);
  t = Open("SAME");
  EXPECT_EQ(Column(t, t, "CODE"), (std::vector<std::string>{"A1", "C3"}));
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, BlankCharacterValuesAreEmptyAndReadBackTrimmed) {
  Create("E", "C,Char,6;N,Integer;D,Date;L,Logical;");
  DBHANDLE t = Open("E");
  AppendRow(t, {{"C", "      "}, {"N", ""}});
  AppendRow(t, {{"C", "  x   "}, {"N", "0"}, {"D", "19991231"}, {"L", "T"}});
  DBE_OK(DbGotoTop(t));
  for (const char* f : {"C", "N", "D", "L"}) EXPECT_TRUE(IsEmpty(t, f)) << f;
  EXPECT_EQ(Get(t, "C"), "");
  DBE_OK(DbSkip(t, 1));
  EXPECT_EQ(Get(t, "C"), "  x");  // leading blanks stay, trailing ones go
  EXPECT_FALSE(IsEmpty(t, "N"));
  EXPECT_EQ(Get(t, "N"), "0");
  // Setting empty clears a value.
  DBE_OK(DbSetEmpty(t, "D"));
  DBE_OK(DbWriteRecord(t));
  EXPECT_TRUE(IsEmpty(t, "D"));
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, BadValuesAreRefusedNamingTheColumn) {
  Create("B", "N,Integer;S,ShortInt;D,Date;M,Money;");
  DBHANDLE t = Open("B");
  DBE_OK(DbAppendRecord(t));
  struct Case { const char* field; const char* text; };
  for (const Case& c : {Case{"N", "12x"}, Case{"S", "40000"}, Case{"D", "2007-02-29"}, Case{"M", "1.2.3"}}) {
    DBE_FAILS_WITH(DBE_COLUMN_VALUE, DbSetField(t, c.field, c.text, static_cast<uint32_t>(strlen(c.text))));
    EXPECT_NE(LastErrorText().find(std::string("column \"") + c.field + "\""), std::string::npos);
  }
  DBE_FAILS_WITH(DBE_COLUMN_NOT_FOUND, DbSetField(t, "NOPE", "1", 1));
  DBE_OK(DbCancelUpdate(t));
  EXPECT_EQ(Count(t), 0u);
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, FieldListErrors) {
  struct Case { const char* fields; DBRESULT code; };
  const Case cases[] = {
      {"", DBE_INVALID_FIELD_LIST},
      {";;", DBE_INVALID_FIELD_LIST},
      {"A,Char;", DBE_INVALID_FIELD_LIST},          // length missing
      {"A,Char,0;", DBE_INVALID_FIELD_LIST},
      {"A,Integer;a,Date;", DBE_INVALID_FIELD_LIST},  // named twice
      {"A;", DBE_INVALID_FIELD_LIST},
      {"A,Widget;", DBE_UNSUPPORTED_FIELD_TYPE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    DBHANDLE t = 0;
    DBE_FAILS_WITH(c.code, DbCreateTable(conn_, "BAD", nullptr, DBE_TABLE_KDT, 1, 1, 2, 0, c.fields, 0, &t));
    EXPECT_FALSE(fs::exists(dir_.File("BAD.KDT")));
  }
  // The register's field list, as the application builds it.
  Create("mcompany.KDT", "COMPANY_CODE,Char,8;TOTAL_STAFF,Integer;BACKUPDATE,Date;");
  DBHANDLE t = 0;
  DBE_FAILS_WITH(DBE_TABLE_EXISTS, DbCreateTable(conn_, "MCOMPANY", nullptr, 3, 1, 1, 2, 0, "A,Integer;", 0, &t));
}

TEST_F(StorageTest, MemoSpaceIsReusedInPlaceAndReclaimedByPack) {
  Create("NOTES", "K,Integer;TXT,Memo;PIC,Image;");
  DBHANDLE t = Open("NOTES", DBE_OPEN_EXCLUSIVE);
  std::string big(5000, 'x');
  for (int i = 0; i < 10; ++i) {
    DBE_OK(DbAppendRecord(t));
    DBE_OK(DbSetField(t, "K", std::to_string(i).c_str(), 1));
    DBE_OK(DbSetBinary(t, "TXT", reinterpret_cast<const uint8_t*>(big.data()), 5000));
    DBE_OK(DbWriteRecord(t));
  }
  auto memo_size = [&] { return fs::file_size(dir_.File("NOTES.KDM")); };
  uintmax_t before = memo_size();
  // A shorter value fits where the old one was.
  DBE_OK(DbGotoRecord(t, 3));
  DBE_OK(DbSetField(t, "TXT", "short", 5));
  DBE_OK(DbWriteRecord(t));
  EXPECT_EQ(memo_size(), before);
  EXPECT_EQ(Get(t, "TXT"), "short");
  // Deleted rows' values go at the next pack.
  for (uint32_t r = 4; r <= 10; ++r) {
    DBE_OK(DbGotoRecord(t, r));
    DBE_OK(DbDeleteRecord(t));
  }
  DBE_OK(DbPackTable(t));
  EXPECT_LT(memo_size(), before / 2);
  EXPECT_EQ(Count(t), 3u);
  EXPECT_EQ(Column(t, t, "TXT"), (std::vector<std::string>{big, big, "short"}));
  uint32_t len = 0;
  DBE_OK(DbGotoTop(t));
  DBE_OK(DbGetMemoLength(t, "TXT", &len));
  EXPECT_EQ(len, 5000u);
  uint8_t part[10];
  len = sizeof part;
  DBE_OK(DbGetBinary(t, "TXT", 4995, part, &len));
  EXPECT_EQ(len, 5u);
  EXPECT_TRUE(IsEmpty(t, "PIC"));
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, DeletedRowsAreSkippedCountedAndRemovedByPack) {
  Create("D", "N,Integer;");
  DBHANDLE t = Open("D", DBE_OPEN_EXCLUSIVE);
  for (int i = 1; i <= 5; ++i) AppendRow(t, {{"N", std::to_string(i)}});
  for (uint32_t r : {2u, 4u}) {
    DBE_OK(DbGotoRecord(t, r));
    DBE_OK(DbDeleteRecord(t));
    uint16_t del = 0;
    DBE_OK(DbIsRecordDeleted(t, &del));
    EXPECT_EQ(del, 1);
  }
  EXPECT_EQ(Column(t, t, "N"), (std::vector<std::string>{"1", "3", "5"}));
  EXPECT_EQ(Count(t), 3u);
  DBE_OK(DbShowDeleted(1));
  EXPECT_EQ(Column(t, t, "N").size(), 5u);
  DBE_OK(DbShowDeleted(0));
  DBE_OK(DbGotoRecord(t, 2));
  DBE_OK(DbRecallRecord(t));
  EXPECT_EQ(Column(t, t, "N"), (std::vector<std::string>{"1", "2", "3", "5"}));
  DBE_OK(DbPackTable(t));
  uint32_t r = 0;
  DBE_OK(DbGotoBottom(t));
  DBE_OK(DbGetRecordNum(t, &r));
  EXPECT_EQ(r, 4u);
  // Nothing left to remove.
  DBE_FAILS_WITH(DBE_NOTHING_TO_DO, DbPackTable(t));
  DBE_OK(DbZapTable(t));
  EXPECT_EQ(Count(t), 0u);
  EXPECT_TRUE(Eof(t));
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, NavigationAtTheEnds) {
  Create("NAV", "N,Integer;");
  DBHANDLE t = Open("NAV");
  uint16_t bof = 0;
  DBE_OK(DbGotoTop(t));
  EXPECT_TRUE(Eof(t));
  DBE_OK(DbAtBOF(t, &bof));
  EXPECT_EQ(bof, 1);
  for (int i = 1; i <= 3; ++i) AppendRow(t, {{"N", std::to_string(i)}});
  DBE_OK(DbGotoBottom(t));
  DBE_OK(DbSkip(t, 1));
  EXPECT_TRUE(Eof(t));
  EXPECT_EQ(Get(t, "N"), "");   // the blank row past the end
  DBE_OK(DbSkip(t, -1));
  EXPECT_EQ(Get(t, "N"), "3");
  DBE_OK(DbSkip(t, -5));
  DBE_OK(DbAtBOF(t, &bof));
  EXPECT_EQ(bof, 1);
  EXPECT_EQ(Get(t, "N"), "1");
  DBE_OK(DbGotoRecord(t, 99));
  EXPECT_TRUE(Eof(t));
  DBE_OK(DbCloseTable(t));
}

TEST_F(StorageTest, DeleteTableRemovesItsCompanionFiles) {
  Create("EMPSERV", "A,Integer;M,Memo;");
  DBHANDLE t = Open("EMPSERV", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbCreateIndex(t, nullptr, "A", "A", nullptr, nullptr, DBE_INDEX_COMPOUND, 0, nullptr));
  DBE_OK(DbCloseTable(t));
  // A backup set beside it, as a restructure leaves one.
  for (const char* ext : {"KDT", "KDI", "KDM"}) {
    fs::copy_file(dir_.File(std::string("EMPSERV.") + ext), dir_.File(std::string("EMPSERV.") + ext + ".BAK"));
  }
  t = Open("EMPSERV.KDT.BAK", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbDeleteTable(t));
  for (const char* ext : {"KDT", "KDI", "KDM"}) {
    EXPECT_FALSE(fs::exists(dir_.File(std::string("EMPSERV.") + ext + ".BAK"))) << ext;
    EXPECT_TRUE(fs::exists(dir_.File(std::string("EMPSERV.") + ext))) << ext;
  }
  t = Open("empserv", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbDeleteTable(t));
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

// The engine's own rewrites, creations and deletions keep the folder's
// listing current without reading the folder again; a leftover or a table
// another program puts there is still seen at the next open.
TEST_F(StorageTest, AFolderIsReadOnceWhileTheEngineChangesItYetOtherProgramsChangesAreSeen) {
  Create("EMP", "N,Integer;M,Memo;");
  Create("DEPT", "N,Integer;");
  DBHANDLE t = Open("emp", DBE_OPEN_EXCLUSIVE);
  const std::uint64_t readings = kx8::platform::FolderReadings();
  for (int i = 1; i <= 3; ++i) AppendRow(t, {{"N", std::to_string(i)}, {"M", "memo"}});
  DBE_OK(DbGotoRecord(t, 2));
  DBE_OK(DbDeleteRecord(t));
  DBE_OK(DbPackTable(t));
  DBE_OK(DbCloseTable(t));
  Create("NEWTAB", "N,Integer;");
  t = Open("dept", DBE_OPEN_EXCLUSIVE);
  DBE_OK(DbDeleteTable(t));
  DBHANDLE gone = 0;
  DBE_FAILS_WITH(DBE_FILE_NOT_FOUND, TryOpen("Dept", 0, &gone));
  for (const char* name : {"newtab", "Emp"}) DBE_OK(DbCloseTable(Open(name)));
  EXPECT_EQ(kx8::platform::FolderReadings(), readings);

  // Another program: the leftover of a rewrite it was stopped in, and a
  // table under a spelling of its own.
  std::ofstream(dir_.File("EMP.KDT.new")) << "partial";
  fs::copy_file(dir_.File("NEWTAB.KDT"), dir_.File("Other.kdt"));
  t = Open("emp");
  EXPECT_EQ(Count(t), 2u);
  DBE_OK(DbCloseTable(t));
  EXPECT_FALSE(fs::exists(dir_.File("EMP.KDT.new")));
  DBE_OK(DbCloseTable(Open("OTHER")));
  EXPECT_EQ(kx8::platform::FolderReadings(), readings);
}

TEST_F(StorageTest, TableNamesResolveWithoutRegardToCaseOrSeparator) {
  fs::create_directory(dir_.File("sub"));
  Create("sub\\EMPLOYEE.KDT", "EMP_NO,Char,10;");
  EXPECT_TRUE(fs::exists(dir_.File("sub/EMPLOYEE.KDT")));
  for (const char* name : {"SUB\\employee.kdt", "sub/Employee", "Sub\\EMPLOYEE"}) {
    SCOPED_TRACE(name);
    DBHANDLE t = Open(name);
    char buf[512];
    uint16_t len = sizeof buf;
    DBE_OK(DbGetTableFilename(t, buf, &len));
    EXPECT_EQ(std::string(buf), dir_.File("sub/EMPLOYEE.KDT"));
    DBE_OK(DbCloseTable(t));
  }
  DBHANDLE t = 0;
  DBE_FAILS_WITH(DBE_FILE_NOT_FOUND, TryOpen("NOSUCH", 0, &t));
  EXPECT_NE(LastErrorText().find("NOSUCH.KDT"), std::string::npos);
}

// The row and count checksums: CRC-32C's check value, and the same result
// whether a buffer is taken whole (three lanes side by side) or byte by byte,
// and whether a row is checked alone or while it is copied.
TEST(ChecksumTest, Crc32cMatchesItsCheckValueAndEverySplit) {
  EXPECT_EQ(dbe::Crc32c(0, "123456789", 9), 0xE3069283u);
  std::string bytes(1100, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 131 + 7);
  // Around the block size (192) and with every kind of remainder: bytes,
  // whole words, a lane's worth and more.
  for (size_t n :
       std::initializer_list<size_t>{0, 1, 7, 8, 191, 192, 193, 200, 255, 256, 383, 384, 385, 577, 700, 1100}) {
    SCOPED_TRACE(n);
    uint32_t piecewise = 0;
    for (size_t i = 0; i < n; ++i) piecewise = dbe::Crc32c(piecewise, bytes.data() + i, 1);
    EXPECT_EQ(dbe::Crc32c(0, bytes.data(), n), piecewise);
    // A read checks and copies a row in one pass: same check, same bytes,
    // nothing written past the record.
    const auto* record = reinterpret_cast<const uint8_t*>(bytes.data());
    std::string copy(n + 8, 'x');
    EXPECT_EQ(dbe::RowChecksumAndCopy(9, record, uint32_t(n), reinterpret_cast<uint8_t*>(copy.data())),
              dbe::RowChecksum(9, record, uint32_t(n)));
    EXPECT_EQ(copy, bytes.substr(0, n) + "xxxxxxxx");
  }
  // A row's check is that of its number's four bytes and the record.
  const auto* record = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t number[4] = {0x70, 0x11, 0x01, 0x00};
  EXPECT_EQ(dbe::RowChecksum(0x011170, record, 577), dbe::Crc32c(dbe::Crc32c(0, number, 4), record, 577));
  // A row's check moved to another row number is the check made afresh.
  for (uint32_t length : {1u, 200u, 700u}) {
    dbe::RowRenumbering renumbering(length);
    EXPECT_EQ(renumbering.Move(dbe::RowChecksum(70000, record, length), 70000, 3),
              dbe::RowChecksum(3, record, length));
  }
}

}  // namespace
}  // namespace kx8test
