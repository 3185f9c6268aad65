#include "tools/plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <ostream>
#include <stdexcept>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/scripted_ui.h"
#include "schema/catalogue.h"
#include "schema/release_check.h"
#include "support/credentials.h"

namespace kx8::tools {
namespace {

using namespace kx8::dbaccess;

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The column a creating type code adds.
std::optional<TFieldType> TypeOfCreatingCode(const std::string& code) {
  static const std::map<std::string, TFieldType> types = {
      {"C", ftString},  {"$", ftCurrency}, {"D", ftDate},    {"I", ftInteger}, {"L", ftBoolean},
      {"T", ftTime},    {"Z", ftFloat},    {"+", ftAutoInc}, {"B", ftBlob}};
  auto it = types.find(code);
  if (it == types.end()) return std::nullopt;
  return it->second;
}

struct TableState {
  bool exists = false;
  std::vector<TFieldDef> fields;
  std::uint64_t bytes = 0;
  bool encrypted = false;
};

class Planner {
 public:
  Planner(const std::string& folder, const console::RunOptions& options) : options_(options) {
    plan_.folder = schema::ConnectToCompany(c_, folder);
    plan_.dictionary = c_.IsDictionaryConnection();
    c_.SetTag(plan_.dictionary ? 99 : 0);
  }

  CompanyPlan Make() {
    plan_.version = ReadVersion();
    Walk();
    return std::move(plan_);
  }

 private:
  bool Checked(const std::string& option) const { return options_.Checked(option); }
  void Step(const std::string& name) { plan_.steps.push_back(name); }

  // The pass's steps in its order; false when an exclusive option ends it.
  bool Walk() {
    if (Checked("CheckBoxbackup")) Step("BackupCompany");
    const std::pair<bool, const char*> first[] = {{plan_.dictionary && Checked("CheckBoxRight"), "RebuildAllRights"},
                                                  {Checked("removeNRIC"), "RemoveNricSlash"},
                                                  {Checked("CheckBoxSAVEJPG"), "SavePhotographs"},
                                                  {Checked("CheckBoxSupvr1"), "ConvertSupervisorTable"}};
    for (const auto& [applies, step] : first) {
      if (applies) return Exclusive(step);
    }
    if (!ColumnRun(1)) return false;
    if (Checked("chkCPFFWL")) {
      // The levy table update adds its column through the column upgrade.
      Step("UpdateLevyTable");
      Column(schema::ColumnEntry{0, "FW_LEVY", "PERIOD_PART", "C", "2", false});
    }
    for (int run : {2, 3, 4}) {
      if (!ColumnRun(run)) return false;
    }
    Step("FillYtdEmpl");
    for (int run : {5, 6, 7}) {
      if (!ColumnRun(run)) return false;
    }
    const std::pair<const char*, const char*> second[] = {{"CheckBoxFin", "IncomeTaxNumberFromPass"},
                                                          {"CheckBoxPICTURE", "ImportPhotographs"},
                                                          {"CheckBoxUpdate", "ReportTemplateList"}};
    for (const auto& [option, step] : second) {
      if (Checked(option)) return Exclusive(step);
    }
    if (!ColumnRun(8)) return false;
    if (plan_.version <= schema::kHighestVersionForRun9 && !ColumnRun(9)) return false;
    Step("TerminationStatus");
    if (!ColumnRun(10)) return false;
    if (Checked("CheckBoxForfeit")) Step("ResetLeaveForfeit");
    Step("ReportFieldRows");
    if (Checked("CheckBoxRearrange")) return Exclusive("RearrangeAllowanceColumns");
    if (plan_.dictionary) Step("NormaliseTableNames");
    Step("ReconnectCompany");
    if (!ColumnRun(11)) return false;
    Step("EncryptIncomeTaxTables");
    if (Checked("CheckBoxFamilyCode")) Step("ConvertOccupationCodes");
    Step("EncryptTransferTables");
    Step("ReminderSettingsAndLaterRuns");
    for (int run : {12, 13, 14}) ColumnRun(run);
    if (Checked("CheckBoxEducate")) Step("EducationRecordNumbers");
    if (Checked("CheckBoxPOSB")) Step("BankCodeMigration");
    if (Checked("CheckBoxClaim")) Step("ClaimSetupRebuild");
    if (!ColumnRun(15)) return false;
    Step("FillRbItem");
    if (Checked("CheckBox7")) Step("RegisterTimeClockProcedure");
    Step("EncryptSysContTables");
    if (plan_.dictionary) Step("GrantIntpassRights");
    for (const char* step : {"NormaliseTableNames", "RecordNumberBackfill", "EmployeeRecordPass",
                             "ReleaseTemplateRefresh"}) {
      Step(step);
    }
    if (Checked("CheckBoxAdv")) Step("ReportWriterRefresh");
    for (const char* step : {"ReportCatalogueUpdates", "TrainingAndMedschFillIns", "IndexRepair"}) Step(step);
    if (Checked("CheckBoxClaim")) Step("SchemeClaimRows");
    for (const char* step : {"CleanCompanyFolder", "ReportTemplateList", "NormaliseTableNames", "QueryCleanup",
                             "DailyLevyRates2012"}) {
      Step(step);
    }
    if (plan_.dictionary) Step("RebuildRightsAndAutoCreate");
    if (Checked("CheckBoxHTRX")) Step("PeriodOrganisationUpdate");
    Step("RemoveBackupFiles");
    Step("StampReleaseVersion");
    return true;
  }

  bool Exclusive(const std::string& step) {
    Step(step);
    plan_.exclusive_option = step;
    return false;
  }

  // One column run through the catalogue's own walk, every action
  // recorded instead of done.
  bool ColumnRun(int run) {
    Step("ColumnRun" + std::to_string(run));
    TDbDictionary dictionary;
    TDbTable work_table, register_table;
    TDbQuery work_query;
    platform::ScriptedUi ui;
    std::string edit1;
    schema::UpgradeContext ctx{c_, dictionary, work_table, work_query, register_table, ui, "",
                               [&](const std::string& t) { edit1 = t; }, [&] { return edit1; }, {}};
    schema::CatalogueActions a;
    a.upgrade_column = [&](const schema::ColumnEntry& e) { Column(e); };
    a.bracket = [](const schema::BracketStep&) {};
    a.company_file_exists = [&](const std::string& file) {
      return platform::FileExists(plan_.folder + "\\" + file);
    };
    a.hook = [&](const schema::HookCall& call) {
      Step(schema::HookName(call.hook));
      if (call.hook == schema::CatalogueHook::RemoveColumn) Removal(run, call.table, call.argument);
    };
    a.checked = [&](const std::string& option) { return Checked(option); };
    a.text = [&](const std::string& edit) { return options_.Text(edit); };
    a.release_version = [&] { return plan_.version; };
    const bool goes_on = schema::RunColumnRun(run, ctx, a);
    for (const std::string& m : ui.Messages()) plan_.messages.push_back(m);
    if (!goes_on) plan_.exclusive_option = plan_.steps.back();
    return goes_on;
  }

  // The column upgrade primitive's decision (schema/column_upgrade.cc)
  // against the table as the entries before this one leave it.
  void Column(const schema::ColumnEntry& e) {
    TableState& t = Table(e.table);
    PlannedColumn p{e.run, e.table, e.column, e.code, e.size, "leave", std::nullopt, std::nullopt};
    if (!t.exists) {
      p.action = "no table";
      plan_.columns.push_back(std::move(p));
      return;
    }
    auto field = std::find_if(t.fields.begin(), t.fields.end(),
                              [&](const TFieldDef& f) { return Upper(f.Name) == Upper(e.column); });
    if (field != t.fields.end()) p.before = *field;
    const bool resize = e.code == "AS" || e.code == "IC";
    const int size = std::atoi(e.size.c_str());
    std::optional<TFieldDef> after = p.before;
    if (resize && p.before) {
      if (p.before->DataType != ftString) {
        p.action = "retype";
      } else if (p.before->Size != size) {
        p.action = p.before->Size < size ? "widen" : "narrow";
      }
      after = TFieldDef{p.before->Name, ftString, size, 0};
    } else if (!p.before || ((e.column == "NO" || e.column == "ID") && p.before->DataType == ftAutoInc)) {
      std::optional<TFieldType> type = TypeOfCreatingCode(e.code);
      if (e.code == "AI" && p.before) {
        p.action = "retype";
        after = TFieldDef{p.before->Name, ftInteger, 0, 0};
      } else if (type && !p.before) {
        p.action = "add";
        after = TFieldDef{e.column, *type, *type == ftString ? size : 0, 0};
      } else {
        p.action = "fail";
      }
    }
    p.after = after;
    if (p.action != "leave" && p.action != "fail") {
      if (field != t.fields.end()) {
        *field = *after;
      } else {
        t.fields.push_back(*after);
      }
      Rewritten(e.table, t);
    }
    plan_.columns.push_back(std::move(p));
  }

  // The column removal step drops the column when the table has it.
  void Removal(int run, const std::string& table, const std::string& column) {
    TableState& t = Table(table);
    PlannedColumn p{run, table, column, "", "", t.exists ? "leave" : "no table", std::nullopt, std::nullopt};
    auto field = std::find_if(t.fields.begin(), t.fields.end(),
                              [&](const TFieldDef& f) { return Upper(f.Name) == Upper(column); });
    if (field != t.fields.end()) {
      p.before = *field;
      p.action = "remove";
      t.fields.erase(field);
      Rewritten(table, t);
    }
    plan_.columns.push_back(std::move(p));
  }

  void Rewritten(const std::string& name, const TableState& t) {
    auto it = std::find_if(plan_.tables.begin(), plan_.tables.end(),
                           [&](const PlannedTable& p) { return Upper(p.table) == Upper(name); });
    if (it == plan_.tables.end()) {
      plan_.tables.push_back(PlannedTable{name, t.bytes, 0, t.encrypted});
      it = plan_.tables.end() - 1;
    }
    ++it->changes;
    plan_.bytes_rewritten += t.bytes * (t.encrypted ? 3 : 1);
  }

  // The table as the company has it, read once, read-only.
  TableState& Table(const std::string& name) {
    auto [it, added] = tables_.try_emplace(Upper(name));
    if (!added) return it->second;
    TableState& t = it->second;
    TDbTable table;
    table.SetDbConnection(&c_);
    table.SetTableName(name);
    if (!table.TableExists() && !platform::FileExists(plan_.folder + "\\" + name + ".KDT")) return t;
    table.SetReadOnly(true);
    table.Open();
    t.exists = true;
    t.fields = table.FieldDefs().Items();
    t.encrypted = !plan_.dictionary && table.IsTableEncrypted();
    table.Close();
    for (const char* ext : {".KDT", ".KDI", ".KDM"}) {
      for (const platform::FoundEntry& f :
           platform::FindEntries(plan_.folder + "\\" + name + ext, platform::FindAttr::Files)) {
        t.bytes += f.size;
      }
    }
    return t;
  }

  std::int64_t ReadVersion() {
    TDbTable t;
    t.SetDbConnection(&c_);
    t.SetTableName("PAYPARA");
    t.SetReadOnly(true);
    t.Open();
    if (!plan_.dictionary && t.IsTableEncrypted()) t.EnableEncryption(support::AdministratorPassword());
    t.First();
    const double version = t.Eof() ? 0.0 : t.FieldByName("VERSION").AsCurrency();
    t.Close();
    return static_cast<std::int64_t>(std::llround(version * 10000.0));
  }

  const console::RunOptions& options_;
  TDbConnection c_;
  CompanyPlan plan_;
  std::map<std::string, TableState> tables_;
};

std::string VersionText(std::int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld.%02lld", static_cast<long long>(v / 10000),
                static_cast<long long>((v % 10000) / 100));
  return buf;
}

}  // namespace

std::string ShapeText(const std::optional<TFieldDef>& field) {
  if (!field) return "-";
  if (field->DataType == ftString) return "char " + std::to_string(field->Size);
  return schema::KindName([&] {
    switch (field->DataType) {
      case ftCurrency: return schema::ColumnKind::Currency;
      case ftDate: return schema::ColumnKind::Date;
      case ftInteger: return schema::ColumnKind::Integer;
      case ftBoolean: return schema::ColumnKind::Logical;
      case ftTime: return schema::ColumnKind::Time;
      case ftFloat: return schema::ColumnKind::Double;
      case ftAutoInc: return schema::ColumnKind::AutoInc;
      case ftBlob:
      case ftMemo:
      case ftGraphic: return schema::ColumnKind::Blob;
      default: return schema::ColumnKind::Other;
    }
  }());
}

CompanyPlan PlanCompany(const std::string& folder, const console::RunOptions& options) {
  return Planner(folder, options).Make();
}

void WritePlan(const CompanyPlan& plan, std::ostream& out) {
  out << "Plan for " << plan.folder << ": " << (plan.dictionary ? "data dictionary" : "free tables") << ", release "
      << VersionText(plan.version) << "; nothing was changed\n";
  std::map<std::string, int> counts;
  for (const PlannedColumn& c : plan.columns) {
    ++counts[c.action];
    out << "COLUMN\t" << c.run << '\t' << c.table << '\t' << c.column << '\t' << c.code << '\t' << c.size << '\t'
        << c.action << '\t' << ShapeText(c.before) << '\t' << ShapeText(c.after) << '\n';
  }
  for (const std::string& s : plan.steps) out << "STEP\t" << s << '\n';
  for (const PlannedTable& t : plan.tables) {
    out << "TABLE\t" << t.table << '\t' << t.bytes << " bytes\t" << t.changes
        << (t.changes == 1 ? " change" : " changes") << (t.encrypted ? "\tencrypted" : "") << '\n';
  }
  for (const std::string& m : plan.messages) out << "MESSAGE\t" << m << '\n';
  if (!plan.exclusive_option.empty()) out << "Exclusive option: " << plan.exclusive_option << " ends the pass\n";
  out << "Summary: " << plan.columns.size() << " entries (";
  bool first = true;
  for (const char* action : {"add", "widen", "narrow", "retype", "remove", "leave", "fail", "no table"}) {
    if (counts[action] == 0) continue;
    out << (first ? "" : ", ") << counts[action] << ' ' << action;
    first = false;
  }
  out << "), " << plan.tables.size() << (plan.tables.size() == 1 ? " table" : " tables") << " rewritten, about "
      << plan.bytes_rewritten << " bytes rewritten\n";
}

}  // namespace kx8::tools
