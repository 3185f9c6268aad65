#include "conversions/index_repair.h"

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "conversions/index_check.h"
#include "conversions/statements.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_scoped_table.h"
#include "support/credentials.h"
#include "support/helpers.h"

namespace kx8::conversions {
namespace {

using dbaccess::ixDescending;
using dbaccess::ixUnique;
using dbaccess::TDbQuery;
using dbaccess::TDbTable;
using enum IndexPassword;

constexpr std::uint16_t kAutoCreate = 203;

// IR8AR is one of the income-tax tables the pass encrypts before it repairs
// indexes, so its entry carries the password: without it the statement could
// never reach the table and the index would stay missing on every pass.
// clang-format off
const IndexEntry kIndexEntries[] = {
  // #  table              expected fields                                 statement, or the index added through the table                                      password
  {1,  "TEMPINCREMENT",   "USERID;TYPE;CATEGORY;GRADE",       "Create Index \"CATEGORY\" on TEMPINCREMENT(USERID,TYPE,CATEGORY,GRADE)", nullptr, {}, Statement},
  {2,  "FREEFIELD",       "MODULE;LINE;CTLFIELD",             "Create Index \"CTLFIELD\" on FREEFIELD(MODULE,LINE,CTLFIELD)", nullptr, {}, None},
  {3,  "APPD8B",          "INC_NO",                           "Create Index \"INC_NO\" on APPD8B(INC_NO)", nullptr, {}, None},
  {4,  "RPTRX",           "EMPCODE;PAYCODE;PERIOD;CYCLE",     "Create Index \"PAYCODE\" on RPTRX(EMPCODE,PAYCODE,PERIOD,CYCLE)", nullptr, {}, TableAndStatement},
  {5,  "RBFIELD",         "TABLENAME;FIELDNAME",              "Create Index \"TABLENAME\" on RBFIELD(TABLENAME,FIELDNAME)", nullptr, {}, TableAndStatement},
  {6,  "EMPLEAVE",        "EMPCODE;START_DATE;LEAVE_CODE;ID", nullptr, "EMPCODE1", {ixUnique, ixDescending}, None},
  {7,  "LEAV_TRX",        "LEAVE_CODE;EMPCODE;DATE;ID",       "Create Index \"LEAVE_TRX1\" on LEAV_TRX( LEAVE_CODE,EMPCODE,\"DATE\",ID)", nullptr, {}, None},
  {8,  "RBTABLE",         "TABLENAME",                        "Create Index \"TABLENAME\" on RBTABLE(TABLENAME)", nullptr, {}, Statement},
  {9,  "PQUERY",          "CODE;QTYPE;ID",                    "Create Index \"CODE2\" on PQUERY(CODE,QTYPE,ID)", nullptr, {}, None},
  {10, "LIEUTRX1",        "EMP_NO;LEAVE_CODE;TRX_DATE;TRXID", "Create Index \"EMP_NO2\" on LIEUTRX1(EMP_NO,LEAVE_CODE,TRX_DATE,TRXID)", nullptr, {}, None},
  {11, "LEAV_TRX",        "LEAVE_CODE;EMPCODE;DATE;ID",       "Create Index \"EMP_NO\" on LEAV_TRX(LEAVE_CODE,EMPCODE,\"DATE\",ID)", nullptr, {}, None},
  {12, "CODE",            "CATEGORY;DESC",                    "Create Index \"CATDESC\" on CODE(CATEGORY,\"DESC\")", nullptr, {}, None},
  {13, "IR8AR",           "USERID;EMPCODE;TYPE",              "Create Index \"PRIMARY1\" on IR8AR(USERID,EMPCODE,TYPE )", nullptr, {}, Statement},  // encrypted by this pass
  {14, "MEDICAL",         "EMPCODE;BNO",                      "Create Index \"BNO\" on MEDICAL(EMPCODE,BNO )", nullptr, {}, None},
  {15, "ALLOWNCE",        "YEAR;RPTCODE",                     "Create Index \"RPTCODE\" on ALLOWNCE( YEAR,RPTCODE )", nullptr, {}, None},
  {16, "GLCOST",          "LINE",                             "Create Index \"  LINE\" on GLCOST(LINE)", nullptr, {}, None},
  {17, "PASSWORK",        "USER;MENU",                        "Create Index \"MENU1\" on PASSWORK(\"USER\",MENU)", nullptr, {}, None},
  {18, "APPR",            "EMP_CODE",                         "Create Index \"EMPLOYEE\" on APPR(EMP_CODE)", nullptr, {}, None},
  {19, "P_HIST1",         "USERID;EMPCODE;ID;ALW_CODE;DESC01", "Create Index \"P_HIST\" on P_HIST1(USERID,EMPCODE,ID,ALW_CODE,DESC01)", nullptr, {}, TableAndStatement},
  {20, "APPRDTL",         "EMPCODE;ID;SECTION",               "Create Index \"EMPLOYEE1\" on APPRDTL(EMPCODE,ID,SECTION)", nullptr, {}, None},
  {21, "APP_GRADE_SETUP", "JOB_GRADE;FROMMARK",               "Create Index \"FROMMARK\" on APP_GRADE_SETUP(JOB_GRADE,FROMMARK)", nullptr, {}, None},
  {22, "LEAVESET",        "PERIOD;SCHEME",                    "Create Index \"PERIOD1\" on LEAVESET(PERIOD,SCHEME)", nullptr, {}, None},
  {23, "P_HIST4",         "USERID;DEPT_CODE;CST_CODE;CAT_CODE;PAYCODE1", "Create Index \"PAYCODE1\" on P_HIST4(USERID,DEPT_CODE,CST_CODE,CAT_CODE,PAYCODE1)", nullptr, {}, None},
  {23, "P_HIST4",         "USERID;DEPT_CODE;CST_CODE;CAT_CODE;PAYCODE2", "Create Index \"PAYCODE2\" on P_HIST4(USERID,DEPT_CODE,CST_CODE,CAT_CODE,PAYCODE2)", nullptr, {}, None},
  {23, "P_HIST4",         "USERID;DEPT_CODE;CST_CODE;CAT_CODE;PAYCODE2;ID", "Create Index \"ID\" on P_HIST4(USERID,DEPT_CODE,CST_CODE,CAT_CODE,PAYCODE2,ID)", nullptr, {}, None},
  {24, "INCOMETB",        "YEAR;FORWHAT",                     nullptr, "FORWHAT", {}, None},
};
// clang-format on

// Entries 1 to 3 are taken for every company; the free-table entries
// follow, and a dictionary-bound company has its rebuild in their place.
constexpr int kLastCommonEntry = 3;
// Entries 6 to 8 stand or fall with the password of entry 8.
constexpr int kGroupFirst = 6;
constexpr int kGroupLast = 8;
constexpr char kGroupPasswordTable[] = "RBTABLE";

// The two tables whose indexes a dictionary-bound company gets rebuilt, in
// order, with the one index each ends with.
struct DictionaryRebuild {
  const char* table;
  const char* index_name;
  const char* fields;
};
const DictionaryRebuild kDictionaryRebuilds[] = {
    {"TEMPPAYGROUP", "PAYGROUP", "PAYGROUP;YEAR;MONTH;TYPE"},
    {"RPTRX", "PAYCODE", "EMPCODE;PAYCODE;PERIOD;CYCLE"},
};

const char* const kIncomeTaxTables[] = {"IRDX8A", "IR8AR", "IR8AREC", "IR8S", "IRREFUND"};

std::string UpperCase(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool FreeTableCompany(const schema::UpgradeContext& ctx) { return !ctx.company.IsDictionaryConnection(); }

void SupplyStatementPassword(TDbQuery& q, const char* table) {
  q.SetStatementPassword(support::AdministratorPassword());
  q.SetTablePassword(table, support::AdministratorPassword());
}

// Tests one row of an entry and makes its index when no index of the table
// has the expected fields.
void RepairEntry(schema::UpgradeContext& ctx, TDbQuery& q, const IndexEntry& e, bool free_tables) {
  TDbTable& t = ctx.work_table;
  t.Close();
  t.SetIndexFieldNames("");
  t.SetTableName(e.table);
  t.Open();
  if (free_tables && e.password == TableAndStatement) t.EnableEncryption(support::AdministratorPassword());
  const bool exists = IndexExists(t, e.fields);
  t.Close();
  if (exists) return;
  if (e.statement == nullptr) {
    t.AddIndex(e.index_name, e.fields, e.options);
    return;
  }
  q.Close();
  RunStatement(q, e.statement, [&](TDbQuery& ready) {
    if (free_tables && e.password != None) SupplyStatementPassword(ready, e.table);
  });
}

// A password given to the query's statement stays with the statement until
// it is released, which a statement that runs does and one that fails or is
// never needed does not. Each entry therefore starts on a statement of its
// own, except the later entries of the group, which share the password
// supplied for the group: otherwise whether an encrypted table of an entry
// without a password gets its index would depend on which earlier indexes
// were missing, and a repeated pass could make an index the first did not.
void StartEntryStatement(TDbQuery& q, const IndexEntry& e) {
  if (e.number > kGroupFirst && e.number <= kGroupLast) return;
  q.Close();
  q.CloseStatement();
}

// Takes the entries [first, last] in order; an entry that fails is passed
// over with its remaining rows.
void RepairEntries(schema::UpgradeContext& ctx, TDbQuery& q, int first, int last) {
  const bool free_tables = FreeTableCompany(ctx);
  int passed_over = 0;  // the entry whose remaining rows are passed over
  for (const IndexEntry& e : kIndexEntries) {
    if (e.number < first || e.number > last || e.number == passed_over) continue;
    StartEntryStatement(q, e);
    if (free_tables && e.number == kGroupFirst) {
      try {
        SupplyStatementPassword(q, kGroupPasswordTable);
      } catch (const std::exception&) {
        // Without the password of RBTABLE the whole group waits for a
        // later pass.
        first = kGroupLast + 1;
        continue;
      }
    }
    try {
      RepairEntry(ctx, q, e, free_tables);
    } catch (const std::exception&) {
      // A missing table, an encrypted table without its password or a name
      // in use: the index waits for a later pass, the other entries go on.
      ctx.work_table.Close();
      q.Close();
      passed_over = e.number;
    }
  }
}

void SetAutoCreate(dbaccess::TDbDictionary& d, const std::string& table, std::uint16_t value) {
  d.SetTableProperty(table, kAutoCreate, &value, 2, 0, "");
}

// Switches automatic creation off and on. When anything fails once the
// switch-off was asked for (it may have been written even when it reports a
// failure), it is switched on again before the failure goes on, so that the
// table is never left without it.
void CycleAutoCreate(dbaccess::TDbDictionary& d, const std::string& table) {
  try {
    SetAutoCreate(d, table, 0);
    SetAutoCreate(d, table, 1);
  } catch (const std::exception&) {
    try {
      SetAutoCreate(d, table, 1);
    } catch (const std::exception&) {
      // The first failure is the one reported.
    }
    throw;
  }
}

std::uint16_t AutoCreate(dbaccess::TDbDictionary& d, const std::string& table) {
  std::uint16_t value = 0, len = 2;
  d.GetTableProperty(table, kAutoCreate, &value, &len);
  return value;
}

// True when the open table's only index is the one the rebuild ends with.
bool HasOnlyTheRebuiltIndex(TDbTable& t, const DictionaryRebuild& r) {
  t.RefreshIndexDefs();
  const auto& defs = t.IndexDefs().Items();
  return defs.size() == 1 && defs[0].Name == r.index_name && defs[0].Fields == r.fields &&
         !defs[0].Options.Contains(ixUnique) && !defs[0].Options.Contains(ixDescending);
}

// Removes every index of a dictionary-bound table and adds back the one it
// should have, on a connection of its own.
void RebuildInDictionary(schema::UpgradeContext& ctx, const DictionaryRebuild& r) {
  dbaccess::TDbScopedTable s;
  dbaccess::TDbConnection& c = s.Connection();
  TDbTable& t = s.Table();
  c.SetConnectPath(ctx.company.ConnectPath());
  c.SetDbServerTypes({dbaccess::stDB_LOCAL, dbaccess::stDB_REMOTE});
  t.SetTableName(r.table);
  t.SetExclusive(true);
  t.DbTableOptions().SetDbRightsCheck(false);
  c.SetUsername(support::AdministratorUser());
  c.SetPassword(support::AdministratorPassword());
  c.SetLoginPrompt(false);
  t.Open();
  const bool as_rebuilt = HasOnlyTheRebuiltIndex(t, r);
  t.Close();
  try {
    dbaccess::TDbDictionary d;
    d.SetConnectPath(c.ConnectPath());
    d.SetUserName(support::AdministratorUser());
    d.SetPassword(support::AdministratorPassword());
    d.SetLoginPrompt(false);
    d.SetIsConnected(true);
    const std::string name = support::ReplaceAll(UpperCase(r.table), ".KDT", "");
    // Rebuilt by an earlier pass and untouched since: removing the index
    // and adding it again would give the same table.
    if (as_rebuilt && AutoCreate(d, name) == 1) return;
    try {
      SetAutoCreate(d, name, 0);
      std::vector<std::string> indexes;
      d.GetIndexNames(name, indexes);
      for (const std::string& index : indexes) d.DeleteIndex(name, index);
    } catch (const std::exception&) {
      SetAutoCreate(d, name, 1);
      throw;
    }
    SetAutoCreate(d, name, 1);
  } catch (const std::exception&) {
    // The old indexes stay; the index below is still added when missing.
  }
  c.SetIsConnected(true);
  t.SetTableType(dbaccess::ttDbKDT);
  t.DbTableOptions().SetDbCharType(dbaccess::TDbCharTypes::ANSI);
  t.AddIndex(r.index_name, r.fields, {});
}

}  // namespace

std::span<const IndexEntry> IndexEntries() { return kIndexEntries; }

void EncryptIncomeTaxTables(schema::UpgradeContext& ctx) {
  if (!FreeTableCompany(ctx)) return;
  TDbTable& t = ctx.work_table;
  for (const char* table : kIncomeTaxTables) {
    try {
      t.Close();
      t.SetIndexFieldNames("");
      t.SetTableName(table);
      t.Open();
      t.EnableEncryption(support::AdministratorPassword());
      if (!t.IsTableEncrypted()) t.EncryptTable();
      t.Close();
    } catch (const std::exception&) {
      t.Close();
      throw;
    }
  }
}

void RepairIndexes(schema::UpgradeContext& ctx, TDbQuery& query) {
  RepairEntries(ctx, query, 1, kLastCommonEntry);
  if (FreeTableCompany(ctx)) {
    RepairEntries(ctx, query, kLastCommonEntry + 1, kIndexEntries[std::size(kIndexEntries) - 1].number);
    return;
  }
  for (const DictionaryRebuild& r : kDictionaryRebuilds) RebuildInDictionary(ctx, r);
}

void ResetAutoCreate(schema::UpgradeContext& ctx) {
  const std::string code = ctx.CompanyCode();
  ctx.company.SetIsConnected(false);
  try {
    ctx.dictionary.SetIsConnected(false);
    ctx.dictionary.SetConnectPath(ctx.company.ConnectPath());
    ctx.dictionary.SetIsConnected(true);
    std::vector<std::string> names;
    ctx.dictionary.GetTableNames(names);
    for (const std::string& name : names) {
      try {
        CycleAutoCreate(ctx.dictionary, name);
      } catch (const std::exception& e) {
        ctx.ui.MessageBox(kAutoCreateFailed + name + "  " + e.what() + kAutoCreateFailedEnd, "");
        break;
      }
    }
  } catch (const std::exception&) {
    // The company is connected again before the failure goes on.
    ctx.dictionary.SetIsConnected(false);
    ctx.company.SetIsConnected(true);
    throw;
  }
  ctx.dictionary.SetIsConnected(false);
  ctx.company.SetIsConnected(true);
  ctx.SeekCompany(code);
}

}  // namespace kx8::conversions
