// The column upgrade catalogue of the release: fifteen column runs, each an
// ordered list of column entries (table, flag, then columns as name, type
// code and size) with the steps that stand between them: bracket steps that
// take a table out of encryption and put it back, guarded groups, option
// and file tests, and the steps of other units at their marked points.
//
// The catalogue is data (catalogue_data.cc). One interpreter walks a run and
// hands every entry to the column upgrade primitive; what it does at each
// line goes through CatalogueActions, so that the run driver supplies the
// options, the version reader and the other units' steps, and tests can
// record the walk without real tables.
#ifndef KX8_SCHEMA_CATALOGUE_H_
#define KX8_SCHEMA_CATALOGUE_H_

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "schema/context.h"

namespace kx8::schema {

// The table column of the approval-flow entries: their table is the text of
// the edit box Edit4 ("Flow Table"), read afresh for each entry.
inline constexpr char kFlowTable[] = "*Flow Table*";

// Stored release versions in ten-thousandths, as the version reader gives
// them (8.90 is 89000).
inline constexpr std::int64_t kHighestVersionForRun9 = 89000;   // run 9: at most 8.90
inline constexpr std::int64_t kVersionEndingRun14 = 86000;      // run 14: below 8.60

// Steps of other units at marked points of the runs.
enum class CatalogueHook {
  None,
  WriteReportFields,              // report field rows; argument: their numbers
  SeedFreeFieldCaptions,
  AddVoluntaryContributionRows,   // behind CheckBoxVol
  ConvertCostCentreCodes,         // behind CheckBoxCTR; ends the company's pass
  FixListCodes,
  SeedFormulaFields,
  RollForwardLevy2004To2005,
  BackfillCareerHistory,
  FillPHtrxBankAmount,
  RemoveEmpservBackup,
  DefaultPaypara2Type,            // relies on DbTable1 named PAYPARA2 by the entry before it
  TakeEmpProsSalaryTotal,         // and decrypts EMP_PROS on a free-table company
  CheckEmpProsSalaryTotal,        // re-encrypts EMP_PROS, checks the total, removes its backup
  EmptyRpHtrx,
  ResetEPayslipPasswords,         // reads CheckBox5 itself
  RemoveColumn,                   // table and argument: the column
  CloseCodeTables,                // DbTableCode and the work table
  FillCodeAndGradeColumns,        // three fill-in statements, then the company connection again
};
const char* HookName(CatalogueHook hook);
// Every hook the catalogue calls, in the order of the enumeration.
std::span<const CatalogueHook> CatalogueHooks();

// What a bracket step does to its table on a free-table company.
enum class BracketAction {
  Decrypt,             // EnableEncryption, DecryptTable
  DecryptIfEncrypted,  // the same when the table reports itself encrypted
  Encrypt,             // EnableEncryption, EncryptTable
  EnsureEncrypted,     // EnableEncryption; EncryptTable when not encrypted
  EncryptThenDecrypt,  // EnableEncryption, EncryptTable, DecryptTable; the table stays open
};
// What a bracket step does on a dictionary connection.
enum class OnDictionary {
  OpenAndClose,  // the table is opened and closed, encryption untouched
  Skip,          // nothing at all
  Counterpart,   // DecryptDictionaryTable, or EnsureDictionaryTable(table, true)
};

// Guarded groups and conditional groups.
enum class Block {
  None,
  MessageA,       // the error's text, " SQL ", the work query's SQL text
  MessageB,       // "Add Field Function " and the error's text
  Silent,         // the rest of the group is skipped without a message
  TrnnoKdt,       // "TRNNO.kdt " and the error's text
  BonusReptype,   // "BONUS FIELD REPTYPE " and the error's text
  ApprovalFlow,   // only when CheckBox6 is ticked and Edit4 is not empty
  CompanyFile,    // only when the company folder holds the file named
};

enum class VersionTest { None, AtMost890, Below860 };

enum class LineKind { Columns, Hook, OptionHook, ExclusiveHook, Bracket, Begin, End };

// One line of the catalogue as written in the data.
struct CatalogueRow {
  const char* table;                // as written; kFlowTable for the approval-flow table
  int flag;                         // 1: the application keeps the table encrypted
  const char* columns;              // "NAME CODE SIZE, ..."; a series "FIRSTn … LASTm CODE SIZE"
  LineKind kind = LineKind::Columns;
  CatalogueHook hook = CatalogueHook::None;
  const char* argument = "";        // option, hook argument or file name
  BracketAction action = BracketAction::Decrypt;
  OnDictionary on_dictionary = OnDictionary::OpenAndClose;
  bool exclusive = false;           // the bracket opens its table exclusively
  Block block = Block::None;
};

struct CatalogueRunRows {
  int run;
  const char* option;               // the run's option, or nullptr
  VersionTest version;
  Block block;                      // the run's own error block
  std::span<const CatalogueRow> rows;
};
// The fifteen runs as written, in run order.
std::span<const CatalogueRunRows> CatalogueData();

// One entry: a column, or a generated series of columns.
struct CatalogueEntry {
  std::string column;               // the column, or the series' prefix
  std::string code, size;
  int first = 0, last = 0;          // a series: prefix + first ... prefix + last
  bool Series() const { return last != 0; }
  std::vector<std::string> Columns() const;
};

// A catalogue line read from the data: a table line with its entries, or
// a step; a Begin knows the index of its End.
struct CatalogueLine {
  CatalogueRow row;
  std::vector<CatalogueEntry> entries;
  std::size_t end = 0;
};

struct CatalogueRun {
  int run = 0;
  const char* option = nullptr;
  VersionTest version = VersionTest::None;
  Block block = Block::None;
  std::vector<CatalogueLine> lines;
};
// The runs read from the data once; a malformed line raises std::logic_error.
const std::vector<CatalogueRun>& Catalogue();

// --- walking a run -----------------------------------------------------------

struct ColumnEntry {
  int run;
  std::string table, column, code, size;
  bool encrypted;
};

struct BracketStep {
  std::string table;
  BracketAction action;
  OnDictionary on_dictionary;
  bool exclusive;
};

struct HookCall {
  CatalogueHook hook;
  std::string table, argument;
};

// What the walk does at each line. CompanyActions fills the first three
// with the real operations on the company; the run driver supplies the rest.
struct CatalogueActions {
  std::function<void(const ColumnEntry&)> upgrade_column;
  std::function<void(const BracketStep&)> bracket;
  std::function<bool(const std::string& file)> company_file_exists;
  std::function<void(const HookCall&)> hook;
  std::function<bool(const std::string& option)> checked;
  std::function<std::string(const std::string& edit)> text;
  std::function<std::int64_t()> release_version;
};
CatalogueActions CompanyActions(UpgradeContext& ctx);

// A bracket step on the company (see BracketAction and OnDictionary).
void RunBracketStep(UpgradeContext& ctx, const BracketStep& step);

// Runs one column run with its gate; false when an exclusive option inside
// it did the rest of the company's work. Errors that no block of the run
// handles are passed on.
bool RunColumnRun(int run, UpgradeContext& ctx, const CatalogueActions& actions);

// A name the approval-flow entries may use as a table of the company folder:
// letters, digits, "_", "-" and "$" only (no separator, drive colon, dot or
// blank).
bool PlainTableName(const std::string& name);

// --- the catalogue as issued -------------------------------------------------

struct IssuedColumn {
  int run;
  std::string table;                // kFlowTable for the approval-flow entries
  int flag;
  std::string column, code, size;
  // The conditional group the entry stands in: CompanyFile, ApprovalFlow,
  // or None when only the run's own gate applies.
  Block condition = Block::None;
};
// Every column in issue order, series expanded, whatever the gates.
std::vector<IssuedColumn> IssuedColumns();
// One line per column: RUN TABLE FLAG COLUMN CODE SIZE, tab-separated.
void WriteCatalogueListing(std::ostream& out);

// A table's columns after the issued entries on it (table names compared
// without regard to case; those `take` accepts, all when it is empty) are
// applied in issue order, as complete passes leave them: a missing column
// is added with its code's type, "AS" and "IC" make a present column
// character of their width, "AI" turns an auto-increment column into an
// integer one. For fixtures and demo data of a given release.
void ApplyIssuedColumns(const std::string& table, std::vector<dbaccess::TFieldDef>& fields,
                        const std::function<bool(const IssuedColumn&)>& take = {});

}  // namespace kx8::schema

#endif  // KX8_SCHEMA_CATALOGUE_H_
