#include "conversions/code_rows.h"

namespace kx8::conversions {
namespace {

constexpr char kCodeOrder[] = "CATEGORY;CODE";
constexpr char kLongDescription[] = "LONG_DESC";

bool FindCode(dbaccess::TDbTable& t, const std::string& category, const std::string& code) {
  if (t.IndexFieldNames() != kCodeOrder) t.SetIndexFieldNames(kCodeOrder);
  return t.FindKey({category, code});
}

}  // namespace

std::string CodeDescription(dbaccess::TDbTable& code_table, const std::string& category, const std::string& code) {
  if (!FindCode(code_table, category, code)) return {};
  return code_table.FieldByName("DESC").AsString();
}

bool AddCodeRow(dbaccess::TDbTable& code_table, const std::string& category, const std::string& code,
                const std::string& description) {
  if (FindCode(code_table, category, code)) return false;
  code_table.Append();
  try {
    code_table.FieldByName("CATEGORY").SetAsString(category);
    code_table.FieldByName("CODE").SetAsString(code);
    code_table.FieldByName("DESC").SetAsString(description);
    // Where the table has the long description, the release fills it from
    // DESC in every row there is; a row added later gets it at once, so
    // that no row depends on whether that fill runs again after it.
    if (dbaccess::TField* long_desc = code_table.FindField(kLongDescription)) long_desc->SetAsString(description);
    code_table.Post();
  } catch (...) {
    // A row left in the insert state would be saved again by the next move
    // of the cursor, outside the caller's handling of this failure.
    code_table.Cancel();
    throw;
  }
  return true;
}

bool SetCodeDescription(dbaccess::TDbTable& code_table, const std::string& category, const std::string& code,
                        const std::string& description) {
  if (!FindCode(code_table, category, code)) return AddCodeRow(code_table, category, code, description);
  if (code_table.FieldByName("DESC").AsString() == description) return false;
  code_table.Edit();
  try {
    code_table.FieldByName("DESC").SetAsString(description);
    code_table.Post();
  } catch (...) {
    code_table.Cancel();  // as in AddCodeRow
    throw;
  }
  return true;
}

}  // namespace kx8::conversions
