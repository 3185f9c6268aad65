#include "schema/release_check.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_errors.h"
#include "dbaccess/db_table.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "schema/catalogue.h"
#include "schema/detach_record.h"
#include "support/credentials.h"

namespace kx8::schema {
namespace {

using namespace kx8::dbaccess;

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool Creates(const std::string& code) {
  return code == "C" || code == "$" || code == "D" || code == "I" || code == "L" || code == "T" || code == "Z" ||
         code == "+" || code == "B";
}

bool Resizes(const std::string& code) { return code == "AS" || code == "IC"; }

bool AlwaysRuns(int run) { return run != 6 && run != 9 && run != 13 && run != 14; }

// Which optional runs and groups take place in one pass.
struct Scenario {
  bool run6 = false, run9 = false, run13 = false, run14 = false, casuald = false, flow = false;
};

bool Takes(const ReleaseColumn& e, const Scenario& s) {
  if (e.guard == ColumnGuard::CasualdFile && !s.casuald) return false;
  if (e.guard == ColumnGuard::FlowTable && !s.flow) return false;
  switch (e.run) {
    case 6:
      return s.run6;
    case 9:
      return s.run9;
    case 13:
      return s.run13;
    case 14:
      return s.run14;
    default:
      return true;
  }
}

// First passes: every combination of the options (run 6, runs 13 and 14
// with their groups) and of the version before the upgrade (above 8.90: no
// run 9 or 14; 8.60 to 8.90: run 9; below 8.60: runs 9 and 14).
std::vector<Scenario> FirstPasses() {
  std::vector<Scenario> list;
  for (int run6 = 0; run6 < 2; ++run6) {
    for (int box1 = 0; box1 < 2; ++box1) {
      for (int version = 0; version < 3; ++version) {
        for (int casuald = 0; casuald < 2; ++casuald) {
          for (int flow = 0; flow < 2; ++flow) {
            Scenario s;
            s.run6 = run6 != 0;
            s.run13 = box1 != 0;
            s.run9 = version >= 1;
            s.run14 = version == 2 && box1 != 0;
            s.casuald = s.run14 && casuald != 0;
            s.flow = s.run14 && flow != 0;
            if ((casuald != 0 || flow != 0) && !s.run14) continue;
            list.push_back(s);
          }
        }
      }
    }
  }
  return list;
}

// Later passes find the version stamped: runs 9 and 14 no longer take place.
std::vector<Scenario> LaterPasses() {
  std::vector<Scenario> list;
  for (int run6 = 0; run6 < 2; ++run6) {
    for (int box1 = 0; box1 < 2; ++box1) {
      Scenario s;
      s.run6 = run6 != 0;
      s.run13 = box1 != 0;
      list.push_back(s);
    }
  }
  return list;
}

struct ColumnState {
  bool present = false;
  ColumnKind kind = ColumnKind::Any;
  int width = -1;
  auto operator<=>(const ColumnState&) const = default;
};

ColumnState Apply(ColumnState st, const ReleaseColumn& e) {
  if (Creates(e.type_code)) {
    if (!st.present) st = {true, KindOfCode(e.type_code), e.type_code == "C" ? e.size : 0};
  } else if (Resizes(e.type_code)) {
    if (st.present) st = {true, ColumnKind::Character, e.size};
  } else if (e.type_code == "AI") {
    if (st.present && st.kind == ColumnKind::AutoInc) st.kind = ColumnKind::Integer;
  }
  return st;
}

ColumnState Pass(ColumnState st, const std::vector<const ReleaseColumn*>& entries, const Scenario& s) {
  for (const ReleaseColumn* e : entries) {
    if (Takes(*e, s)) st = Apply(st, *e);
  }
  return st;
}

std::string Accepted(const ColumnExpectation& x) {
  std::vector<std::string> forms;
  for (const auto& [kind, width] : x.accepted) {
    std::string one = KindName(kind);
    if (kind == ColumnKind::Character && width >= 0) one += " " + std::to_string(width);
    if (std::find(forms.begin(), forms.end(), one) == forms.end()) forms.push_back(one);
  }
  std::string text;
  for (const std::string& f : forms) text += text.empty() ? f : " or " + f;
  return text;
}

bool Matches(const ColumnExpectation& x, ColumnKind kind, int width) {
  for (const auto& [k, w] : x.accepted) {
    if (k == ColumnKind::Any) return true;
    if (k == kind && (k != ColumnKind::Character || w < 0 || w == width)) return true;
  }
  return false;
}

// A dictionary company's application reaches only the tables its
// dictionary lists: a table file the dictionary does not list (one an
// interrupted change left outside, say) is a difference.
std::vector<std::string> TablesOutsideTheDictionary(const std::string& folder, const std::string& kdd) {
  std::vector<std::string> differences;
  for (const schema::DetachedTable& t : schema::ReadDetachRecord(folder)) {
    differences.push_back(t.name + " is outside its dictionary after an interrupted change (" +
                          std::string(schema::kDetachRecordFile) + "); the next run or kx8db sql puts it back");
  }
  TDbDictionary d;
  LogOnToDictionary(d, kdd);
  std::vector<std::string> names;
  d.GetTableNames(names);
  std::set<std::string> listed;
  for (const std::string& name : names) listed.insert(Upper(platform::FileNamePart(platform::NativePath(d.GetTableFileName(name)))));
  d.SetIsConnected(false);
  for (const platform::FoundEntry& e : platform::FindEntries(folder + "\\*.kdt", platform::FindAttr::Files)) {
    if (listed.count(Upper(e.name)) == 0) differences.push_back(e.name + " is not listed in the dictionary");
  }
  return differences;
}

}  // namespace

const std::vector<ReleaseColumn>& ReleaseColumns() {
  static const std::vector<ReleaseColumn> columns = [] {
    std::vector<ReleaseColumn> list;
    for (const schema::IssuedColumn& c : schema::IssuedColumns()) {
      ReleaseColumn r;
      r.run = c.run;
      r.table = c.table == schema::kFlowTable ? "" : c.table;
      r.column = c.column;
      r.type_code = c.code;
      r.size = std::atoi(c.size.c_str());
      if (c.condition == schema::Block::CompanyFile) r.guard = ColumnGuard::CasualdFile;
      if (c.condition == schema::Block::ApprovalFlow || c.table == schema::kFlowTable) r.guard = ColumnGuard::FlowTable;
      list.push_back(std::move(r));
    }
    return list;
  }();
  return columns;
}

std::string FormName(ColumnKind kind, int width) {
  std::string text = KindName(kind);
  if (kind == ColumnKind::Character) text += " " + std::to_string(width);
  return text;
}

ColumnKind KindOfCode(const std::string& code) {
  if (code == "C" || code == "AS" || code == "IC") return ColumnKind::Character;
  if (code == "$") return ColumnKind::Currency;
  if (code == "D") return ColumnKind::Date;
  if (code == "I" || code == "AI") return ColumnKind::Integer;
  if (code == "L") return ColumnKind::Logical;
  if (code == "T") return ColumnKind::Time;
  if (code == "Z") return ColumnKind::Double;
  if (code == "+") return ColumnKind::AutoInc;
  if (code == "B") return ColumnKind::Blob;
  return ColumnKind::Other;
}

ColumnKind KindOfField(dbaccess::TFieldType type) {
  switch (type) {
    case ftString:
      return ColumnKind::Character;
    case ftCurrency:
      return ColumnKind::Currency;
    case ftDate:
      return ColumnKind::Date;
    case ftInteger:
      return ColumnKind::Integer;
    case ftBoolean:
      return ColumnKind::Logical;
    case ftTime:
      return ColumnKind::Time;
    case ftFloat:
      return ColumnKind::Double;
    case ftAutoInc:
      return ColumnKind::AutoInc;
    case ftBlob:
    case ftMemo:
    case ftGraphic:
      return ColumnKind::Blob;
    default:
      return ColumnKind::Other;
  }
}

const char* KindName(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::Any:
      return "any type";
    case ColumnKind::Character:
      return "char";
    case ColumnKind::Currency:
      return "curdouble";
    case ColumnKind::Date:
      return "date";
    case ColumnKind::Integer:
      return "integer";
    case ColumnKind::Logical:
      return "logical";
    case ColumnKind::Time:
      return "time";
    case ColumnKind::Double:
      return "double";
    case ColumnKind::AutoInc:
      return "autoinc";
    case ColumnKind::Blob:
      return "blob";
    case ColumnKind::Other:
      return "other";
  }
  return "other";
}

std::vector<ColumnExpectation> ColumnExpectations(const std::vector<ReleaseColumn>& columns) {
  std::vector<std::pair<std::string, std::string>> order;
  std::map<std::pair<std::string, std::string>, std::vector<const ReleaseColumn*>> by_column;
  for (const ReleaseColumn& e : columns) {
    if (e.table.empty()) continue;
    auto key = std::make_pair(Upper(e.table), Upper(e.column));
    auto [it, added] = by_column.try_emplace(key);
    if (added) order.push_back(key);
    it->second.push_back(&e);
  }
  const std::vector<Scenario> first = FirstPasses();
  const std::vector<Scenario> later = LaterPasses();
  std::vector<ColumnExpectation> result;
  for (const auto& key : order) {
    const std::vector<const ReleaseColumn*>& entries = by_column[key];
    ColumnExpectation x;
    x.table = entries.front()->table;
    x.column = entries.front()->column;
    // Where a pass may start: the column missing, or there already as an
    // earlier release created it (as one of the creating entries does), or
    // of unknown shape when the release never creates it.
    std::set<ColumnState> starts = {ColumnState{}};
    bool created = false;
    for (const ReleaseColumn* e : entries) {
      if (!Creates(e->type_code)) continue;
      created = true;
      starts.insert(Apply(ColumnState{}, *e));
      if (AlwaysRuns(e->run) && e->guard == ColumnGuard::None) x.required = true;
    }
    if (!created) starts.insert(ColumnState{true, ColumnKind::Any, -1});
    std::set<ColumnState> ends;
    for (const ColumnState& start : starts) {
      for (const Scenario& s : first) {
        ColumnState once = Pass(start, entries, s);
        ends.insert(once);
        for (const Scenario& t : later) ends.insert(Pass(once, entries, t));
      }
    }
    for (const ColumnState& end : ends) {
      if (end.present) x.accepted.insert({end.kind, end.kind == ColumnKind::Character ? end.width : -1});
    }
    result.push_back(std::move(x));
  }
  return result;
}

std::string ConnectToCompany(dbaccess::TDbConnection& c, const std::string& folder_arg) {
  std::string folder = folder_arg;
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  if (!platform::DirectoryExists(folder))
    throw std::runtime_error("The company folder " + folder_arg + " does not exist.");
  const std::string code = platform::FileNamePart(platform::NativePath(folder));
  const std::string kdd = folder + "\\" + code + ".kdd";
  c.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  c.SetLoginPrompt(false);
  c.SetUsername(support::AdministratorUser());
  c.SetPassword(support::AdministratorPassword());
  c.SetConnectPath(platform::FileExists(kdd) ? kdd : folder);
  c.SetIsConnected(true);
  return folder;
}

namespace {

// The fields as the check reads them (names, types, character widths).
TFieldDefs FieldDefsOf(const TableShapes::Shape& shape) {
  TFieldDefs defs;
  for (const auto& [name, field] : shape.fields) {
    defs.Add(name, field.type, field.type == ftString ? field.data_size - 1 : field.data_size);
  }
  return defs;
}

}  // namespace

std::vector<std::string> CheckReleaseColumns(const std::string& folder_arg, const std::vector<ReleaseColumn>& columns,
                                             const TableShapes* known) {
  TDbConnection c;
  const std::string folder = ConnectToCompany(c, folder_arg);
  std::vector<std::string> differences;
  if (c.IsDictionaryConnection()) differences = TablesOutsideTheDictionary(folder, c.ConnectPath());

  auto has_table = [&](const std::string& table) { return platform::FileExists(folder + "\\" + table + ".KDT"); };

  std::map<std::string, std::optional<TFieldDefs>> structures;
  // The expectations of the release's own list are worked out once: the run
  // checks every company against them.
  static const std::vector<ColumnExpectation> release_expectations = ColumnExpectations(ReleaseColumns());
  const std::vector<ColumnExpectation> own =
      &columns == &ReleaseColumns() ? std::vector<ColumnExpectation>{} : ColumnExpectations(columns);
  for (const ColumnExpectation& x : &columns == &ReleaseColumns() ? release_expectations : own) {
    auto [it, added] = structures.try_emplace(Upper(x.table));
    if (added && has_table(x.table)) {
      TDbTable t;
      t.SetDbConnection(&c);
      t.SetTableName(x.table);
      t.SetReadOnly(true);
      if (const TableShapes::Shape* shape = known == nullptr ? nullptr : known->Find(x.table, t.FilesStamp())) {
        it->second = FieldDefsOf(*shape);
      } else {
        t.Open();
        it->second = t.FieldDefs();
        t.Close();
      }
    }
    if (!it->second) continue;
    const TFieldDef* def = it->second->Find(x.column);
    if (def == nullptr) {
      if (x.required) differences.push_back(x.table + " " + x.column + " missing, expected " + Accepted(x));
      continue;
    }
    ColumnKind kind = KindOfField(def->DataType);
    int width = kind == ColumnKind::Character ? def->Size : -1;
    if (!Matches(x, kind, width)) {
      std::string actual = KindName(kind);
      if (kind == ColumnKind::Character) actual += " " + std::to_string(width);
      differences.push_back(x.table + " " + x.column + " " + actual + ", expected " + Accepted(x));
    }
  }
  return differences;
}

void LogOnToDictionary(TDbDictionary& d, const std::string& kdd) {
  d.SetConnectPath(kdd);
  d.SetUserName(support::AdministratorUser());
  d.SetPassword(support::AdministratorPassword());
  d.SetLoginPrompt(false);
  d.SetDbServerTypes({stDB_REMOTE, stDB_LOCAL});
  d.SetIsConnected(true);
}

}  // namespace kx8::schema
