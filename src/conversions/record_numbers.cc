#include "conversions/record_numbers.h"

#include "conversions/company_table.h"
#include "conversions/record_counter.h"

namespace kx8::conversions {
namespace {

using dbaccess::TDbTable;

constexpr char kAppraisalNumber[] = "The appraisal number";
constexpr char kEducationNumber[] = "The education record number";

// Writes a number to the current row's field, only when it differs.
void WriteNumber(TDbTable& t, const char* field, std::int64_t number) {
  if (!t.FieldByName(field).IsNull() && t.FieldByName(field).AsInteger() == number) return;
  t.Edit();
  try {
    t.FieldByName(field).SetAsInteger(number);
    t.Post();
  } catch (...) {
    t.Cancel();
    throw;
  }
}

}  // namespace

void NumberAppraisals(schema::UpgradeContext& ctx) {
  CompanyTable appraisals(ctx, "APPR");
  RecordCounter counter(ctx, "auto6");
  CompanyTable details(ctx, "APPRDTL", "EMPCODE;APPRAISAL_DATE;DATE_SERIALNUM");
  TDbTable& a = *appraisals;
  TDbTable& d = *details;
  for (a.First(); !a.Eof(); a.Next()) {
    std::int64_t number = a.FieldByName("id").AsInteger();
    const std::string employee = appraisals.Text("EMP_CODE");
    const dbaccess::TVariant date = a.FieldByName("APPRAISAL_DATE").AsVariant();
    d.FindNearest({employee, date});
    const bool has_details = !d.Eof() && details.Text("EMPCODE") == employee &&
                             details.Text("APPRAISAL_DATE") == appraisals.Text("APPRAISAL_DATE");
    if (number == 0) {
      // Both columns are checked before the number is taken.
      RequireColumnHolds(a.FieldByName("id"), "APPR", kAppraisalNumber, counter.Next());
      if (has_details) RequireColumnHolds(d.FieldByName("id"), "APPRDTL", kAppraisalNumber, counter.Next());
      number = counter.Take();
      WriteNumber(a, "id", number);
    } else if (has_details) {
      RequireColumnHolds(d.FieldByName("id"), "APPRDTL", kAppraisalNumber, number);
    }
    if (!has_details) continue;
    // Saving a detail row does not move it: its number is not in the order.
    for (; !d.Eof() && details.Text("EMPCODE") == employee &&
           details.Text("APPRAISAL_DATE") == appraisals.Text("APPRAISAL_DATE");
         d.Next()) {
      WriteNumber(d, "id", number);
    }
  }
}

void NumberEducationRecords(schema::UpgradeContext& ctx) {
  // Record order: the ID is part of the table's key, so a row given its
  // number would move under an index order and be met again or skip others.
  CompanyTable records(ctx, "EDUCATE");
  RecordCounter counter(ctx, "AUTO1");
  TDbTable& e = *records;
  for (e.First(); !e.Eof(); e.Next()) {
    if (e.FieldByName("ID").AsInteger() != 0) continue;
    RequireColumnHolds(e.FieldByName("ID"), "EDUCATE", kEducationNumber, counter.Next());
    WriteNumber(e, "ID", counter.Take());
  }
}

}  // namespace kx8::conversions
