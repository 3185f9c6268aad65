#include "schema/report_fields.h"

#include <ostream>
#include <set>
#include <stdexcept>
#include <vector>

#include "schema/column_upgrade.h"
#include "support/credentials.h"

namespace kx8::schema {
namespace {

constexpr int kWidth = 6;  // index of WIDTH among the columns
// The width statement makes these widths 60.
constexpr const char* kWidenedWidths[] = {"20", "30"};
constexpr char kWidened[] = "60";

// The rows of RTABLE as the walk sees them: the company's table, or a
// model of what a pass leaves.
class ReportRows {
 public:
  virtual ~ReportRows() = default;
  // Moves to the row of the number; false when there is none.
  virtual bool Find(const std::string& no) = 0;
  virtual void Edit() = 0;
  // A new row with NO set.
  virtual void Append(const std::string& no) = 0;
  // A cell of the current row; nullopt when it is not known (the model).
  virtual std::optional<std::string> Get(int column) = 0;
  virtual void Set(int column, const std::string& value) = 0;
  virtual void Save() = 0;
  virtual void Delete() = 0;
};

// Whether the current row holds every value the line gives (unknown cells
// of the model never do).
bool Holds(ReportRows& rows, const char* const* values) {
  for (int i = 1; i < kReportColumnCount; ++i) {
    if (values[i] != kKeep && rows.Get(i) != std::optional<std::string>(values[i])) return false;
  }
  return true;
}

// The one routine every line goes through. An upsert of the pass or of the
// routine's list writes all nine values; the other lines only theirs.
void ApplyLine(ReportRule rule, const char* const* values, ReportRows& rows) {
  const bool found = rows.Find(values[0]);
  switch (rule) {
    case ReportRule::Upsert:
      if (found) {
        if (Holds(rows, values)) return;  // saving the same values again would change nothing
        rows.Edit();
      } else {
        rows.Append(values[0]);
      }
      break;
    case ReportRule::ChangeWhenPresent:
      if (!found) return;
      rows.Edit();
      break;
    case ReportRule::AddWhenMissing:
      if (found) {
        // The width statement, which runs before this routine in every
        // complete pass, widens 20 and 30 to 60, also on the rows this line
        // added in an earlier pass. Those rows get their listed width back,
        // so that a second pass leaves them as the first did; the rest of
        // an existing row stays as it is.
        const char* width = values[kWidth];
        if (width == kKeep || rows.Get(kWidth) != std::optional<std::string>(kWidened)) return;
        if (std::string(width) != kWidenedWidths[0] && std::string(width) != kWidenedWidths[1]) return;
        rows.Edit();
        rows.Set(kWidth, width);
        rows.Save();
        return;
      }
      rows.Append(values[0]);
      break;
    case ReportRule::DeleteWhenPresent:
      if (found) rows.Delete();
      return;
  }
  for (int i = 1; i < kReportColumnCount; ++i) {
    if (values[i] != kKeep) rows.Set(i, values[i]);
  }
  rows.Save();
}

void ApplyLine(const ReportFieldLine& line, ReportRows& rows) { ApplyLine(line.rule, line.values, rows); }

// RTABLE of the company, open on its NO order.
class TableRows : public ReportRows {
 public:
  explicit TableRows(dbaccess::TDbTable& t) : t_(t) {}
  bool Find(const std::string& no) override { return t_.FindKey({dbaccess::TVariant(no)}); }
  void Edit() override { t_.Edit(); }
  void Append(const std::string& no) override {
    t_.Append();
    t_.FieldByName(kReportColumns[0]).SetAsString(no);
  }
  std::optional<std::string> Get(int column) override { return t_.FieldByName(kReportColumns[column]).AsString(); }
  void Set(int column, const std::string& value) override { t_.FieldByName(kReportColumns[column]).SetAsString(value); }
  void Save() override { t_.Post(); }
  void Delete() override { t_.Delete(); }

 private:
  dbaccess::TDbTable& t_;
};

// What a pass leaves, row by row: a row starts as given, or else either
// missing or present with every cell unknown.
class ModelRows : public ReportRows {
 public:
  using Cells = std::array<std::optional<std::string>, kReportColumnCount>;
  ModelRows(bool others_present, std::map<std::string, std::optional<Cells>> start = {})
      : others_present_(others_present), rows_(std::move(start)) {}

  bool Find(const std::string& no) override {
    auto [it, added] = rows_.try_emplace(no);
    if (added && others_present_) {
      it->second = Cells{};
      (*it->second)[0] = no;
    }
    current_ = &it->second;
    return it->second.has_value();
  }
  void Edit() override {}
  void Append(const std::string& no) override {
    *current_ = Cells{};
    for (auto& cell : **current_) cell = "";
    (**current_)[0] = no;
  }
  std::optional<std::string> Get(int column) override { return (**current_)[column]; }
  void Set(int column, const std::string& value) override { (**current_)[column] = value; }
  void Save() override {}
  void Delete() override { current_->reset(); }

  const std::map<std::string, std::optional<Cells>>& Rows() const { return rows_; }

  // A complete pass, with or without column run 9.
  void WalkCompletePass(bool run9) {
    for (const ReportFieldLine& line : ReportFieldCatalogue()) {
      if (line.section == ReportSection::Run9 && !run9) continue;
      ApplyLine(line, *this);
    }
  }

 private:
  bool others_present_;
  std::map<std::string, std::optional<Cells>> rows_;
  std::optional<Cells>* current_ = nullptr;
};

bool PassSection(ReportSection s) {
  return s == ReportSection::Run1 || s == ReportSection::Run3 || s == ReportSection::Run5 ||
         s == ReportSection::Run7 || s == ReportSection::Run9;
}

std::vector<const ReportFieldLine*> Lines(ReportSection section) {
  std::vector<const ReportFieldLine*> lines;
  for (const ReportFieldLine& line : ReportFieldCatalogue()) {
    if (line.section == section) lines.push_back(&line);
  }
  return lines;
}

void CloseQuietly(dbaccess::TDbTable& t) {
  try {
    t.Close();
  } catch (const std::exception&) {
    // Closing after a failure; the failure is what counts.
  }
}

// The upserts of lines (all nine values of each), one after another as
// ReportFieldUpsert makes them, on one open of the table: a line that fails
// closes it (quietly, as the upsert gives up), and the next opens it again.
void Upsert(dbaccess::TDbTable& rtable, const std::vector<const ReportFieldLine*>& lines) {
  bool open = false;
  for (const ReportFieldLine* line : lines) {
    for (const char* v : line->values) {
      if (v == kKeep) throw std::logic_error(std::string("report field upsert without all values: ") + line->No());
    }
    try {
      if (!open) {
        rtable.Close();
        rtable.SetIndexFieldNames("NO");
        rtable.SetFiltered(false);
        rtable.Open();
        open = true;
      }
      TableRows rows(rtable);
      ApplyLine(ReportRule::Upsert, line->values, rows);
    } catch (const std::exception&) {
      // As ReportFieldUpsert: a failed save has shown its message already,
      // and a company without RTABLE has no report fields to write.
      CloseQuietly(rtable);
      open = false;
    }
  }
  CloseQuietly(rtable);
}

}  // namespace

const char* SectionName(ReportSection section) {
  switch (section) {
    case ReportSection::Run1: return "run 1";
    case ReportSection::Run3: return "run 3";
    case ReportSection::Run5: return "run 5";
    case ReportSection::Run7: return "run 7";
    case ReportSection::Run9: return "run 9";
    case ReportSection::AfterRun10: return "after run 10";
    case ReportSection::GroupA: return "group A";
    case ReportSection::List: return "list";
    case ReportSection::GroupB: return "group B";
  }
  return "?";
}

const char* RuleName(ReportRule rule) {
  switch (rule) {
    case ReportRule::Upsert: return "upsert";
    case ReportRule::ChangeWhenPresent: return "change when present";
    case ReportRule::AddWhenMissing: return "add when missing";
    case ReportRule::DeleteWhenPresent: return "delete when present";
  }
  return "?";
}

void WriteReportFieldListing(std::ostream& out) {
  for (const ReportFieldLine& line : ReportFieldCatalogue()) {
    out << SectionName(line.section) << '\t' << RuleName(line.rule);
    for (const char* v : line.values) out << '\t' << (v == kKeep ? "-" : v);
    out << '\n';
  }
}

void SetUpTableRtable(dbaccess::TDbTable& rtable, dbaccess::TDbConnection& company, platform::UiServices& ui) {
  rtable.SetName("TableRtable");
  rtable.SetDbConnection(&company);
  rtable.SetTableName(kReportTable);
  rtable.SetIndexFieldNames("NO");
  rtable.SetFilter(kAllowanceFilter);
  rtable.SetFiltered(true);
  rtable.DbTableOptions().SetDbRightsCheck(false);
  rtable.SetAfterOpen([&rtable](dbaccess::TDbDataSet&) {
    if (!rtable.DbConnection()->IsDictionaryConnection() && rtable.IsTableEncrypted()) {
      rtable.EnableEncryption(support::AdministratorPassword());
    }
  });
  rtable.SetOnPostError([&ui](dbaccess::TDbDataSet& ds, const dbaccess::DbError& e) {
    ui.MessageBox(e.Message() + kFieldNoMessage + ds.FieldByName("NO").AsString(), "");
  });
}

void ReportFieldUpsert(dbaccess::TDbTable& rtable, const std::array<std::string, kReportColumnCount>& values) {
  try {
    rtable.Close();
    rtable.SetIndexFieldNames("NO");
    rtable.SetFiltered(false);
    rtable.Open();
    const char* cells[kReportColumnCount];
    for (int i = 0; i < kReportColumnCount; ++i) cells[i] = values[i].c_str();
    TableRows rows(rtable);
    ApplyLine(ReportRule::Upsert, cells, rows);
    rtable.Close();
  } catch (const std::exception&) {
    // The upsert gives up quietly: a failed save has shown its message
    // already, and a company without RTABLE has no report fields to write.
    CloseQuietly(rtable);
  }
}

void WriteReportFields(dbaccess::TDbTable& rtable, const std::string& numbers) {
  std::vector<const ReportFieldLine*> lines;
  std::size_t pos = 0;
  while (pos < numbers.size()) {
    std::size_t end = numbers.find(',', pos);
    if (end == std::string::npos) end = numbers.size();
    std::string no = numbers.substr(pos, end - pos);
    no.erase(0, no.find_first_not_of(' '));
    no.erase(no.find_last_not_of(' ') + 1);
    pos = end + 1;
    const ReportFieldLine* found = nullptr;
    for (const ReportFieldLine& line : ReportFieldCatalogue()) {
      if (PassSection(line.section) && no == line.No()) {
        found = &line;
        break;
      }
    }
    if (found == nullptr) throw std::logic_error("no report field row " + no + " in the column runs");
    lines.push_back(found);
  }
  Upsert(rtable, lines);
}

void WriteReportFieldsAfterRun10(dbaccess::TDbTable& rtable) {
  Upsert(rtable, Lines(ReportSection::AfterRun10));
}

void RunReportFieldRoutine(UpgradeContext& ctx, dbaccess::TDbTable& rtable) {
  TableRows rows(rtable);
  auto open_unfiltered = [&] {
    rtable.Close();
    rtable.SetFiltered(false);
    rtable.Open();
  };
  try {
    open_unfiltered();
    for (const ReportFieldLine& line : ReportFieldCatalogue()) {
      if (line.section == ReportSection::GroupA) ApplyLine(line, rows);
    }
    UpgradeColumn(ctx, "FAMILY", "IC_PASSPORT_NUM", "AS", "16", false);
    Upsert(rtable, Lines(ReportSection::List));
    open_unfiltered();
    for (const ReportFieldLine& line : ReportFieldCatalogue()) {
      if (line.section == ReportSection::GroupB) ApplyLine(line, rows);
    }
    rtable.Close();
  } catch (...) {
    CloseQuietly(rtable);
    rtable.SetFiltered(true);
    throw;
  }
  rtable.SetFiltered(true);
}

void UpdateReportCatalogue(UpgradeContext& ctx) {
  dbaccess::TDbQuery& q = ctx.work_query;
  for (const char* statement : kReportCatalogueStatements) {
    try {
      q.Close();
      q.SQL().Clear();
      q.SQL().Add(statement);
      q.Prepare();
      q.ExecSQL();
      q.CloseStatement();
    } catch (const std::exception& e) {
      ctx.ui.MessageBox(e.what(), "");
    }
  }
}

std::map<int, ExpectedReportRow> ExpectedReportRows() {
  // Every row starts missing, or present with unknown cells; column run 9
  // takes place or not. A complete pass walks every line in catalogue order.
  std::vector<ModelRows> ends;
  for (bool start_present : {false, true}) {
    for (bool run9 : {false, true}) {
      ModelRows model(start_present);
      model.WalkCompletePass(run9);
      ends.push_back(std::move(model));
    }
  }
  std::set<std::string> numbers;
  for (const ModelRows& end : ends) {
    for (const auto& [no, row] : end.Rows()) numbers.insert(no);
  }
  std::map<int, ExpectedReportRow> expected;
  for (const std::string& no : numbers) {
    std::size_t present = 0;
    std::optional<ModelRows::Cells> cells;
    for (const ModelRows& end : ends) {
      const auto it = end.Rows().find(no);
      if (it == end.Rows().end() || !it->second) continue;
      ++present;
      if (!cells) {
        cells = *it->second;
        continue;
      }
      for (int i = 0; i < kReportColumnCount; ++i) {
        if ((*cells)[i] != (*it->second)[i]) (*cells)[i].reset();
      }
    }
    ExpectedReportRow x;
    x.presence = present == ends.size() ? ExpectedReportRow::Presence::Always
                 : present == 0         ? ExpectedReportRow::Presence::Never
                                        : ExpectedReportRow::Presence::Either;
    if (cells) x.values = *cells;
    expected[std::stoi(no)] = x;
  }
  return expected;
}

std::map<int, ReportRowValues> ApplyReportFieldCatalogue(const std::vector<ReportRowValues>& rows, bool run9) {
  std::map<std::string, std::optional<ModelRows::Cells>> start;
  for (const ReportRowValues& row : rows) {
    ModelRows::Cells cells;
    for (int i = 0; i < kReportColumnCount; ++i) cells[i] = row[i];
    start[row[0]] = cells;
  }
  ModelRows model(false, std::move(start));
  model.WalkCompletePass(run9);
  std::map<int, ReportRowValues> result;
  for (const auto& [no, cells] : model.Rows()) {
    if (!cells) continue;
    ReportRowValues values;
    for (int i = 0; i < kReportColumnCount; ++i) values[i] = (*cells)[i].value_or("");
    result[std::stoi(no)] = values;
  }
  return result;
}

}  // namespace kx8::schema
