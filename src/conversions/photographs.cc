#include "conversions/photographs.h"

#include <exception>
#include <optional>

#include "conversions/company_table.h"
#include "conversions/photo_codec.h"
#include "platform/file_bytes.h"
#include "platform/path.h"

namespace kx8::conversions {
namespace {

constexpr char kPhoto[] = "PHOTO_ID";

std::string EmpNo(dbaccess::TDbTable& employee) { return employee.FieldByName("EMP_NO").AsString(); }

// An employee number that would lead a file name out of its folder is
// refused before any file is touched.
bool CheckFileName(dbaccess::TDbTable& employee, platform::UiServices& ui) {
  const std::string emp_no = EmpNo(employee);
  if (UsableInFileName(emp_no)) return true;
  ui.MessageBox("The photograph of employee \"" + emp_no + "\" " + employee.FieldByName("EMP_NAME").AsString() +
                    " is skipped: the employee number cannot be part of a file name.",
                "");
  return false;
}

// Walks EMPLOYEE of the company from its first row.
template <typename Body>
void ForEachEmployee(schema::UpgradeContext& ctx, Body body) {
  CompanyTable employee(ctx, "EMPLOYEE");
  for (employee->First(); !employee->Eof(); employee->Next()) body(*employee);
}

}  // namespace

bool UsableInFileName(const std::string& emp_no) {
  if (emp_no.empty() || emp_no.find("..") != std::string::npos) return false;
  return emp_no.find_first_of("\\/:") == std::string::npos;
}

void ReencodePhotograph(dbaccess::TDbTable& employee, platform::UiServices& ui) {
  dbaccess::TField& photo = employee.FieldByName(kPhoto);
  const std::string bytes = photo.AsString();
  if (bytes.empty() || !IsBitmap(bytes)) return;
  // The bitmap goes through its work file, which the user may look at
  // afterwards; a folder that is missing ends the pass here.
  platform::WriteFileBytes(kPhotoBitmapFile, bytes);
  const std::optional<Picture> picture = DecodeBitmap(platform::ReadFileBytes(kPhotoBitmapFile));
  const std::string emp_no = EmpNo(employee);
  if (!picture) {
    ui.MessageBox(emp_no, "");
    return;
  }
  employee.Edit();
  try {
    platform::WriteFileBytes(kPhotoJpegFile, EncodeJpeg(*picture));
    photo.SetAsString(platform::ReadFileBytes(kPhotoJpegFile));
    employee.Post();
  } catch (const std::exception&) {
    // Shown as the employee number alone; the photograph stays a bitmap.
    employee.Cancel();
    ui.MessageBox(emp_no, "");
  }
}

void ExportPhotographs(schema::UpgradeContext& ctx) {
  ForEachEmployee(ctx, [&](dbaccess::TDbTable& employee) {
    const std::string bytes = employee.FieldByName(kPhoto).AsString();
    if (bytes.empty() || !CheckFileName(employee, ctx.ui)) return;
    platform::WriteFileBytes(kPhotoExportFolder + EmpNo(employee) + ".jpg", bytes);
  });
}

void ImportPhotographs(schema::UpgradeContext& ctx) {
  ForEachEmployee(ctx, [&](dbaccess::TDbTable& employee) {
    if (!CheckFileName(employee, ctx.ui)) return;
    const std::string file = kPhotoImportFolder + EmpNo(employee) + ".jpg";
    if (!platform::FileExists(file)) return;
    const std::string bytes = platform::ReadFileBytes(file);
    if (employee.FieldByName(kPhoto).AsString() == bytes) return;  // nothing to change
    employee.Edit();
    try {
      employee.FieldByName(kPhoto).SetAsString(bytes);
      employee.Post();
    } catch (...) {
      employee.Cancel();
      throw;
    }
  });
}

}  // namespace kx8::conversions
