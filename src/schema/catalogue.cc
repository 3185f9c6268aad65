#include "schema/catalogue.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>
#include <stdexcept>

#include "platform/file_system.h"
#include "platform/path.h"
#include "schema/column_upgrade.h"
#include "schema/table_encryption.h"
#include "support/credentials.h"

namespace kx8::schema {
namespace {

// Messages of the guarded groups.
const char kMessageASql[] = " SQL ";
const char kMessageB[] = "Add Field Function ";
const char kTrnnoBlock[] = "TRNNO.kdt ";
const char kBonusReptypeBlock[] = "BONUS FIELD REPTYPE ";

// The series marker between the first and the last name.
const char kEllipsis[] = "\xE2\x80\xA6";

const char* const kEditFlowTable = "Edit4";
const char* const kApprovalFlowOption = "CheckBox6";

struct HookEntry {
  CatalogueHook hook;
  const char* name;
};
const HookEntry kHooks[] = {
    {CatalogueHook::WriteReportFields, "WriteReportFields"},
    {CatalogueHook::SeedFreeFieldCaptions, "SeedFreeFieldCaptions"},
    {CatalogueHook::AddVoluntaryContributionRows, "AddVoluntaryContributionRows"},
    {CatalogueHook::ConvertCostCentreCodes, "ConvertCostCentreCodes"},
    {CatalogueHook::FixListCodes, "FixListCodes"},
    {CatalogueHook::SeedFormulaFields, "SeedFormulaFields"},
    {CatalogueHook::RollForwardLevy2004To2005, "RollForwardLevy2004To2005"},
    {CatalogueHook::BackfillCareerHistory, "BackfillCareerHistory"},
    {CatalogueHook::FillPHtrxBankAmount, "FillPHtrxBankAmount"},
    {CatalogueHook::RemoveEmpservBackup, "RemoveEmpservBackup"},
    {CatalogueHook::DefaultPaypara2Type, "DefaultPaypara2Type"},
    {CatalogueHook::TakeEmpProsSalaryTotal, "TakeEmpProsSalaryTotal"},
    {CatalogueHook::CheckEmpProsSalaryTotal, "CheckEmpProsSalaryTotal"},
    {CatalogueHook::EmptyRpHtrx, "EmptyRpHtrx"},
    {CatalogueHook::ResetEPayslipPasswords, "ResetEPayslipPasswords"},
    {CatalogueHook::RemoveColumn, "RemoveColumn"},
    {CatalogueHook::CloseCodeTables, "CloseCodeTables"},
    {CatalogueHook::FillCodeAndGradeColumns, "FillCodeAndGradeColumns"},
};

[[noreturn]] void Malformed(int run, const std::string& what) {
  throw std::logic_error("column run " + std::to_string(run) + ": " + what);
}

std::vector<std::string> Split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    std::size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
    if (at == std::string::npos) break;
    from = at + separator.size();
  }
  return parts;
}

// "COLUMN61" -> ("COLUMN", 61); a name without a number gives 0.
std::pair<std::string, int> SplitNumber(const std::string& name) {
  std::size_t at = name.size();
  while (at > 0 && std::isdigit(static_cast<unsigned char>(name[at - 1]))) --at;
  if (at == name.size() || name[at] == '0') return {name, 0};
  return {name.substr(0, at), std::stoi(name.substr(at))};
}

const char* const kCodes[] = {"C", "$", "D", "I", "L", "B", "T", "Z", "+", "AS", "IC", "AI"};

CatalogueEntry ParseEntry(int run, const std::string& text) {
  std::vector<std::string> words = Split(text, " ");
  CatalogueEntry entry;
  if (words.size() == 3) {
    entry.column = words[0];
  } else if (words.size() == 5 && words[1] == kEllipsis) {
    auto [prefix, first] = SplitNumber(words[0]);
    auto [last_prefix, last] = SplitNumber(words[2]);
    if (first == 0 || prefix != last_prefix || last <= first) Malformed(run, "bad series \"" + text + "\"");
    entry.column = prefix;
    entry.first = first;
    entry.last = last;
  } else {
    Malformed(run, "bad entry \"" + text + "\"");
  }
  entry.code = words[words.size() - 2];
  entry.size = words.back();
  bool known = false;
  for (const char* code : kCodes) known = known || entry.code == code;
  if (!known) Malformed(run, "unknown type code in \"" + text + "\"");
  if (entry.size.empty() || entry.size.find_first_not_of("0123456789") != std::string::npos || entry.size[0] == '0') {
    Malformed(run, "bad size in \"" + text + "\"");
  }
  if (entry.column.empty()) Malformed(run, "no column in \"" + text + "\"");
  return entry;
}

CatalogueRun ReadRun(const CatalogueRunRows& data) {
  CatalogueRun run;
  run.run = data.run;
  run.option = data.option;
  run.version = data.version;
  run.block = data.block;
  std::vector<std::size_t> open;
  for (const CatalogueRow& row : data.rows) {
    CatalogueLine line{row, {}, 0};
    switch (row.kind) {
      case LineKind::Columns:
        if (std::string(row.table).empty() || (row.flag != 0 && row.flag != 1)) Malformed(data.run, "bad table line");
        for (const std::string& text : Split(row.columns, ", ")) line.entries.push_back(ParseEntry(data.run, text));
        break;
      case LineKind::Begin:
        open.push_back(run.lines.size());
        break;
      case LineKind::End:
        if (open.empty()) Malformed(data.run, "End without Begin");
        run.lines[open.back()].end = run.lines.size();
        open.pop_back();
        break;
      default:
        break;
    }
    run.lines.push_back(std::move(line));
  }
  if (!open.empty()) Malformed(data.run, "Begin without End");
  return run;
}

std::string BlockMessage(Block block, UpgradeContext& ctx, const std::exception& e) {
  switch (block) {
    case Block::MessageA:
      return e.what() + std::string(kMessageASql) + ctx.work_query.SQL().Text();
    case Block::MessageB:
      return kMessageB + std::string(e.what());
    case Block::TrnnoKdt:
      return kTrnnoBlock + std::string(e.what());
    case Block::BonusReptype:
      return kBonusReptypeBlock + std::string(e.what());
    default:
      return "";
  }
}

bool Guarded(Block block) {
  return block == Block::MessageA || block == Block::MessageB || block == Block::Silent || block == Block::TrnnoKdt ||
         block == Block::BonusReptype;
}

template <typename F>
const F& Required(const F& f, const char* what) {
  if (!f) throw std::logic_error(std::string("column catalogue: no ") + what);
  return f;
}

class Walk {
 public:
  Walk(const CatalogueRun& run, UpgradeContext& ctx, const CatalogueActions& actions)
      : run_(run), ctx_(ctx), a_(actions) {}

  // Runs lines [from, to); false when an exclusive option ended the pass.
  bool Lines(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      const CatalogueLine& line = run_.lines[i];
      const CatalogueRow& row = line.row;
      switch (row.kind) {
        case LineKind::Columns:
          Entries(line);
          break;
        case LineKind::Hook:
          Hook(row.hook, row.table, row.argument);
          break;
        case LineKind::OptionHook:
          if (Checked(row.argument)) Hook(row.hook, "", "");
          break;
        case LineKind::ExclusiveHook:
          if (Checked(row.argument)) {
            Hook(row.hook, "", "");
            return false;
          }
          break;
        case LineKind::Bracket:
          Required(a_.bracket, "bracket step")(BracketStep{row.table, row.action, row.on_dictionary, row.exclusive});
          break;
        case LineKind::Begin:
          if (!Group(row, i + 1, line.end)) return false;
          i = line.end;
          break;
        case LineKind::End:
          break;
      }
    }
    return true;
  }

  // A group: guarded, or run only on its condition.
  bool Group(const CatalogueRow& row, std::size_t from, std::size_t to) {
    if (row.block == Block::ApprovalFlow) {
      if (!Checked(kApprovalFlowOption) || Text(kEditFlowTable).empty()) return true;
      // The typed name becomes a file name of the company folder: anything
      // but a plain table name could reach files outside it.
      const std::string table = Text(kEditFlowTable);
      if (!PlainTableName(table)) {
        ctx_.ui.MessageBox("Table name " + table + " cannot name a company table; the approval flow columns were not added.",
                           "");
        return true;
      }
      return Lines(from, to);
    }
    if (row.block == Block::CompanyFile) {
      if (!Required(a_.company_file_exists, "file test")(row.argument)) return true;
      return Lines(from, to);
    }
    return GuardedLines(row.block, from, to);
  }

  bool GuardedLines(Block block, std::size_t from, std::size_t to) {
    if (!Guarded(block)) return Lines(from, to);
    try {
      return Lines(from, to);
    } catch (const std::exception& e) {
      if (block != Block::Silent) ctx_.ui.MessageBox(BlockMessage(block, ctx_, e), "");
    }
    return true;
  }

 private:
  void Entries(const CatalogueLine& line) {
    const bool flow = std::string(line.row.table) == kFlowTable;
    for (const CatalogueEntry& entry : line.entries) {
      for (const std::string& column : entry.Columns()) {
        std::string table = flow ? Text(kEditFlowTable) : std::string(line.row.table);
        if (flow && !PlainTableName(table)) continue;  // refused where the group opened
        Required(a_.upgrade_column, "column upgrade")(
            ColumnEntry{run_.run, table, column, entry.code, entry.size, line.row.flag == 1});
      }
    }
  }
  void Hook(CatalogueHook hook, const std::string& table, const std::string& argument) {
    if (a_.hook) a_.hook(HookCall{hook, table, argument});
  }
  bool Checked(const std::string& option) { return Required(a_.checked, "option reader")(option); }
  std::string Text(const std::string& edit) { return Required(a_.text, "edit box reader")(edit); }

  const CatalogueRun& run_;
  UpgradeContext& ctx_;
  const CatalogueActions& a_;
};

}  // namespace

const char* HookName(CatalogueHook hook) {
  for (const HookEntry& h : kHooks) {
    if (h.hook == hook) return h.name;
  }
  return "None";
}

std::span<const CatalogueHook> CatalogueHooks() {
  static const std::vector<CatalogueHook> hooks = [] {
    std::vector<CatalogueHook> all;
    for (const HookEntry& h : kHooks) all.push_back(h.hook);
    return all;
  }();
  return hooks;
}

std::vector<std::string> CatalogueEntry::Columns() const {
  if (!Series()) return {column};
  std::vector<std::string> names;
  for (int n = first; n <= last; ++n) names.push_back(column + std::to_string(n));
  return names;
}

const std::vector<CatalogueRun>& Catalogue() {
  static const std::vector<CatalogueRun> runs = [] {
    std::vector<CatalogueRun> all;
    for (const CatalogueRunRows& data : CatalogueData()) all.push_back(ReadRun(data));
    return all;
  }();
  return runs;
}

bool PlainTableName(const std::string& name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!(std::isalnum(c) || c == '_' || c == '-' || c == '$')) return false;
  }
  return true;
}

CatalogueActions CompanyActions(UpgradeContext& ctx) {
  CatalogueActions a;
  a.upgrade_column = [&ctx](const ColumnEntry& e) {
    UpgradeColumn(ctx, e.table, e.column, e.code, e.size, e.encrypted);
  };
  a.bracket = [&ctx](const BracketStep& step) { RunBracketStep(ctx, step); };
  a.company_file_exists = [&ctx](const std::string& file) {
    return platform::FileExists(ctx.CompanyFolder(ctx.CompanyCode()) + "\\" + file);
  };
  return a;
}

void RunBracketStep(UpgradeContext& ctx, const BracketStep& step) {
  const bool dictionary = ctx.company.IsDictionaryConnection();
  if (dictionary) {
    if (step.on_dictionary == OnDictionary::Skip) return;
    if (step.on_dictionary == OnDictionary::Counterpart) {
      if (step.action == BracketAction::EnsureEncrypted || step.action == BracketAction::Encrypt) {
        EnsureDictionaryTable(ctx, step.table, true);
      } else {
        DecryptDictionaryTable(ctx, step.table);
      }
      return;
    }
  }
  dbaccess::TDbTable& t = ctx.work_table;
  t.Close();
  t.SetTableName(step.table);
  if (step.exclusive) t.SetExclusive(true);
  try {
    t.Open();
    if (!dictionary) {
      const std::string password = support::AdministratorPassword();
      switch (step.action) {
        case BracketAction::Decrypt:
          t.EnableEncryption(password);
          t.DecryptTable();
          NoteDecryptedForChange(ctx, step.table);
          break;
        case BracketAction::DecryptIfEncrypted:
          if (t.IsTableEncrypted()) {
            t.EnableEncryption(password);
            t.DecryptTable();
            NoteDecryptedForChange(ctx, step.table);
          }
          break;
        case BracketAction::Encrypt:
          t.EnableEncryption(password);
          t.EncryptTable();
          NoteEncryptedAgain(ctx, step.table);
          break;
        case BracketAction::EnsureEncrypted:
          t.EnableEncryption(password);
          if (!t.IsTableEncrypted()) t.EncryptTable();
          NoteEncryptedAgain(ctx, step.table);
          break;
        case BracketAction::EncryptThenDecrypt:
          t.EnableEncryption(password);
          t.EncryptTable();
          t.DecryptTable();
          break;
      }
    }
  } catch (...) {
    t.Close();
    throw;
  }
  if (step.action != BracketAction::EncryptThenDecrypt) t.Close();
}

bool RunColumnRun(int number, UpgradeContext& ctx, const CatalogueActions& actions) {
  const CatalogueRun* run = nullptr;
  for (const CatalogueRun& r : Catalogue()) {
    if (r.run == number) run = &r;
  }
  if (run == nullptr) throw std::logic_error("column catalogue: no run " + std::to_string(number));
  // The gate, read when the run is reached.
  if (run->option != nullptr && !Required(actions.checked, "option reader")(run->option)) return true;
  if (run->version != VersionTest::None) {
    const std::int64_t version = Required(actions.release_version, "version reader")();
    if (run->version == VersionTest::AtMost890 && version > kHighestVersionForRun9) return true;
    if (run->version == VersionTest::Below860 && version >= kVersionEndingRun14) return true;
  }
  Walk walk(*run, ctx, actions);
  ctx.decrypted_for_change.clear();
  bool goes_on = true;
  try {
    goes_on = walk.GuardedLines(run->block, 0, run->lines.size());
  } catch (...) {
    EncryptAgainAfterFailure(ctx);
    throw;
  }
  // A table the run decrypted and did not encrypt again is meant to stay
  // decrypted (TRNNO from run 7 on).
  ctx.decrypted_for_change.clear();
  return goes_on;
}

std::vector<IssuedColumn> IssuedColumns() {
  std::vector<IssuedColumn> columns;
  for (const CatalogueRun& run : Catalogue()) {
    // The conditional groups open at each line, innermost last, with the
    // index of their End line.
    std::vector<std::pair<Block, std::size_t>> open;
    for (std::size_t i = 0; i < run.lines.size(); ++i) {
      const CatalogueLine& line = run.lines[i];
      while (!open.empty() && i > open.back().second) open.pop_back();
      if (line.row.kind == LineKind::Begin &&
          (line.row.block == Block::CompanyFile || line.row.block == Block::ApprovalFlow)) {
        open.emplace_back(line.row.block, line.end);
      }
      const Block condition = open.empty() ? Block::None : open.back().first;
      for (const CatalogueEntry& entry : line.entries) {
        for (const std::string& column : entry.Columns()) {
          columns.push_back({run.run, line.row.table, line.row.flag, column, entry.code, entry.size, condition});
        }
      }
    }
  }
  return columns;
}

namespace {

dbaccess::TFieldType TypeOfCode(const std::string& code) {
  static const std::map<std::string, dbaccess::TFieldType> types = {
      {"C", dbaccess::ftString},  {"$", dbaccess::ftCurrency}, {"D", dbaccess::ftDate},
      {"I", dbaccess::ftInteger}, {"L", dbaccess::ftBoolean},  {"T", dbaccess::ftTime},
      {"Z", dbaccess::ftFloat},   {"+", dbaccess::ftAutoInc},  {"B", dbaccess::ftBlob}};
  auto it = types.find(code);
  if (it == types.end()) throw std::logic_error("the column catalogue has the unknown type code " + code);
  return it->second;
}

}  // namespace

void ApplyIssuedColumns(const std::string& table, std::vector<dbaccess::TFieldDef>& fields,
                        const std::function<bool(const IssuedColumn&)>& take) {
  for (const IssuedColumn& c : IssuedColumns()) {
    if (!platform::SameNameIgnoreCase(c.table, table) || (take && !take(c))) continue;
    auto it = std::find_if(fields.begin(), fields.end(),
                           [&](const dbaccess::TFieldDef& f) { return platform::SameNameIgnoreCase(f.Name, c.column); });
    const int size = std::stoi(c.size);
    if (c.code == "AS" || c.code == "IC") {
      if (it != fields.end()) *it = {it->Name, dbaccess::ftString, size, 0};
    } else if (c.code == "AI") {
      if (it != fields.end() && it->DataType == dbaccess::ftAutoInc) it->DataType = dbaccess::ftInteger;
    } else if (it == fields.end()) {
      const dbaccess::TFieldType type = TypeOfCode(c.code);
      fields.push_back({c.column, type, type == dbaccess::ftString ? size : 0, 0});
    }
  }
}

void WriteCatalogueListing(std::ostream& out) {
  for (const IssuedColumn& c : IssuedColumns()) {
    out << c.run << '\t' << c.table << '\t' << c.flag << '\t' << c.column << '\t' << c.code << '\t' << c.size << '\n';
  }
}

}  // namespace kx8::schema
