#include "conversions/release_version.h"

#include <cmath>
#include <string>
#include <vector>

#include "conversions/company_table.h"
#include "dbaccess/db_table.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

struct FreeFieldRow {
  const char *module, *line, *ctlfield, *description, *caption;
};
const FreeFieldRow kFreeFields[] = {
    {"UPD", "1", "FIELD11", "<Description11>", "<Description11>"},
    {"UPD", "1", "FIELD12", "<Description12>", "<Description12>"},
    {"UPD", "1", "FIELD13", "<Description13>", "<Description13>"},
    {"UPD", "1", "FIELD14", "<Description14>", "<Description14>"},
    {"UPD", "1", "FIELD15", "<Description15>", "<Description15>"},
    {"UPD", "3", "BOOL11", "<Indicator 11>", "<Indicator 11>"},
};

struct FormulaRow {
  std::string field, desc, fieldtable, table;
};
std::vector<FormulaRow> FormulaRows() {
  std::vector<FormulaRow> rows;
  for (int i = 0; i < 10; ++i) {
    rows.push_back({"VA6" + std::to_string(i), "FREE NUMERIC" + std::to_string(i + 1), "NUMERIC" + std::to_string(i + 1),
                    "EMPMISC"});
  }
  rows.push_back({"VA70", "Working Day Per month", "", ""});
  return rows;
}

struct ReminderRow {
  const char* repcode;
  const char* repdesc;
  bool enabled;
  const char *fieldname, *databasename, *value;
};
const ReminderRow kReminders[] = {
    {"06", "TENURE OF SERVICE EXPIRY DATE", true, "EXPIRY_DATE", "EMPLOYMT", "1"},
    {"07", "VACCINATION EXPIRY DATE", false, "VAC_DATE_EXP", "VACCINATION", "1"},
    {"08", "INCREMENT REVIEW DATE", true, "INCRE_REVIEW_DATE", "EMP_PROS", "1"},
    {"09", "NEXT APPRAISAL DATE", false, "NEXT_APPR_DATE", "APPR", "1"},
    {"10", "DEMERIT POINT", false, "DEMERIT_POINT", "DISC", "50"},
    {"11", "TRANSFER/PROMOTION REVIEW DATE", false, "NEXT_INCR_DATE", "EMP_PROS", "1"},
    {"12", "BENEFIT/RETIRED BENEFIT", false, "RETURN_DATE", "BENEFIT", "1"},
    {"13", "TRAINING CERTIFICATION EXPIRY DATE", false, "EXPIRY_DATE", "TRAINING", "1"},
    {"14", "MATERNITY START DATE", false, "MATE", "EMPLEAVE", "1"},
    {"15", "ENHANCED CHILDCARE SUBMISSION DATE", false, "ECHILD_DATE", "LEAV_TRX", "1"},
    {"16", "PASSPORT EXPIRY DATE", true, "PASSPORT_EXPIRE_DATE", "EMPLOYEE", "1"},
    {"17", "CHANGE CPF RATE BY AGE", false, "FUND_LEVY", "EMPLOYEE", "1"},
};

// Whether any row has these values in these fields.
bool HasRow(TDbTable& t, const std::vector<std::pair<const char*, std::string>>& values) {
  for (t.First(); !t.Eof(); t.Next()) {
    bool all = true;
    for (const auto& [field, value] : values) all = all && t.FieldByName(field).AsString() == value;
    if (all) return true;
  }
  return false;
}

}  // namespace

std::int64_t ReadReleaseVersion(schema::UpgradeContext& ctx) {
  CompanyTable t(ctx, "PAYPARA");
  t->First();
  return static_cast<std::int64_t>(std::llround(t->FieldByName("VERSION").AsCurrency() * 10000.0));
}

std::string VersionText(std::int64_t version) {
  const bool negative = version < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(version) : static_cast<std::uint64_t>(version);
  std::string fraction = std::to_string(10000 + magnitude % 10000).substr(1);
  while (fraction.size() > 2 && fraction.back() == '0') fraction.pop_back();
  return (negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

void StampReleaseVersion(schema::UpgradeContext& ctx) {
  try {
    CompanyTable t(ctx, "PAYPARA");
    t->First();
    t->Edit();
    t->FieldByName("VERSION").SetAsCurrency(9.07);
    t->Post();
  } catch (const std::exception& e) {
    ctx.ui.MessageBox(std::string("ERROR1 ") + e.what(), "");
  }
}

void SeedFreeFieldCaptions(schema::UpgradeContext& ctx) {
  CompanyTable t(ctx, "FREEFIELD");
  for (const FreeFieldRow& r : kFreeFields) {
    if (HasRow(*t, {{"CTLFIELD", r.ctlfield}})) continue;
    t->Append();
    t->FieldByName("MODULE").SetAsString(r.module);
    t->FieldByName("LINE").SetAsString(r.line);
    t->FieldByName("CTLFIELD").SetAsString(r.ctlfield);
    t->FieldByName("DESCRIPTION").SetAsString(r.description);
    t->FieldByName("CAPTION").SetAsString(r.caption);
    t->Post();
  }
}

void SeedFormulaFields(schema::UpgradeContext& ctx) {
  CompanyTable t(ctx, "FORMULA", "FIELD");
  for (const FormulaRow& r : FormulaRows()) {
    if (t->FindKey({dbaccess::TVariant(r.field)})) continue;
    t->Append();
    t->FieldByName("field").SetAsString(r.field);
    t->FieldByName("desc").SetAsString(r.desc);
    t->FieldByName("fieldtable").SetAsString(r.fieldtable);
    t->FieldByName("table").SetAsString(r.table);
    t->Post();
  }
  t->Close();
  t->SetIndexFieldNames("");
}

void SeedReminderSettings(schema::UpgradeContext& ctx) {
  try {
    CompanyTable t(ctx, "AUTOSET", "RPTTYPE;REPCODE");
    for (const ReminderRow& r : kReminders) {
      if (t->FindKey({dbaccess::TVariant(std::string("OTH")), dbaccess::TVariant(std::string(r.repcode))})) continue;
      t->Append();
      t->FieldByName("RPTTYPE").SetAsString("OTH");
      t->FieldByName("REPCODE").SetAsString(r.repcode);
      t->FieldByName("REPDESC").SetAsString(r.repdesc);
      t->FieldByName("ENABLED").SetAsBoolean(r.enabled);
      t->FieldByName("FIELDNAME").SetAsString(r.fieldname);
      t->FieldByName("DATABASENAME").SetAsString(r.databasename);
      t->FieldByName("VALUE").SetAsString(r.value);
      t->Post();
    }
    t->Close();
    t->SetIndexFieldNames("");
  } catch (const std::exception&) {
    // Reminder settings are seeded when possible; rows added before stay.
  }
}

void FixListCodes(schema::UpgradeContext& ctx) {
  CompanyTable t(ctx, "LIST");
  for (t->First(); !t->Eof(); t->Next()) {
    std::string v = t->FieldByName("VALUE").AsString();
    if (v.rfind("DR", 0) != 0) continue;
    t->Edit();
    t->FieldByName("VALUE").SetAsString(v.substr(0, 1) + (v.size() > 2 ? v.substr(2, 1) : ""));
    t->Post();
  }
}

}  // namespace kx8::conversions
