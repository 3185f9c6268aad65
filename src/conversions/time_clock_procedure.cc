#include "conversions/time_clock_procedure.h"

#include <vector>

#include "conversions/statements.h"
#include "platform/file_system.h"

namespace kx8::conversions {
namespace {

// The parameters, each ended by "*"; text after the last "*" is no
// parameter.
std::vector<std::string> SplitParameters(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t star = text.find('*'); star != std::string::npos; star = text.find('*', start)) {
    out.push_back(text.substr(start, star - start));
    start = star + 1;
  }
  return out;
}

}  // namespace

std::string TimeClockProcedureStatement() {
  const std::vector<std::string> parameters = SplitParameters(kTimeClockParameters);
  std::string sql = std::string("CREATE PROCEDURE ") + kTimeClockProcedure + "( ";
  for (std::size_t i = 0; i < parameters.size(); ++i) sql += (i == 0 ? " " : ", ") + parameters[i] + " ";
  sql += ") ";
  sql += std::string(" FUNCTION ") + kTimeClockFunction + " IN LIBRARY \"" + kTimeClockLibraryPath + "\" ";
  return sql;
}

void RegisterTimeClockProcedure(schema::UpgradeContext& ctx, platform::TZipArchive& zip,
                                const std::string& archive_name) {
  const std::string folder = ArchiveFolder(ctx.root_folder);
  // The archive lies beside the company folders, wherever the program was
  // started from.
  zip.SetZipFilename(folder + archive_name);
  if (platform::FileExists(zip.ZipFilename())) {
    ctx.ui.SetScreenCursor(platform::Cursor::HourGlass);
    zip.SetUnzipToFolder(folder);
    // Masks left by an earlier extraction or the backup must not take
    // further files out of the archive.
    zip.SetFilesToProcess("");
    zip.AddMask(kTimeClockLibrary);
    const platform::TZipResult result = zip.Extract();
    ctx.ui.SetScreenCursor(platform::Cursor::Default);
    // Without the library the procedure is still registered (the
    // dictionary only records where it lies); the administrator is told.
    if (result != platform::TZipResult::Ok) ctx.ui.MessageBox(zip.LastError(), "");
  } else {
    ctx.ui.MessageBox(zip.ZipFilename() + kArchiveNotFound, "");
  }
  ctx.work_query.Close();
  RunStatement(ctx.work_query, TimeClockProcedureStatement().c_str());
}

}  // namespace kx8::conversions
