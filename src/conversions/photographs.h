// Employee photographs, kept in the blob EMPLOYEE.PHOTO_ID as the bytes of
// an image file: older releases stored Windows bitmaps, the current release
// stores JPEG images. Three pieces of work: re-encoding bitmaps as JPEG (a
// step of the employee record pass), exporting every photograph to
// "c:\temp\" and importing photographs from "c:\temp\photo\".
#ifndef KX8_CONVERSIONS_PHOTOGRAPHS_H_
#define KX8_CONVERSIONS_PHOTOGRAPHS_H_

#include <string>

#include "dbaccess/db_table.h"
#include "platform/ui_services.h"
#include "schema/context.h"

namespace kx8::conversions {

// The work files of the re-encoding, overwritten for every employee and
// left in place, and the folders of export and import. None is created by
// the program.
inline constexpr char kPhotoBitmapFile[] = "c:\\temp\\photo.bmp";
inline constexpr char kPhotoJpegFile[] = "c:\\temp\\photo.jpg";
inline constexpr char kPhotoExportFolder[] = "c:\\temp\\";
inline constexpr char kPhotoImportFolder[] = "c:\\temp\\photo\\";

// Re-encodes the current EMPLOYEE row's photograph when it is a bitmap, and
// saves the row. A photograph that is empty or not a bitmap is left alone.
// A bitmap that cannot be decoded or encoded is shown as a message holding
// the employee number, and the photograph stays as it was. Failing to write
// the bitmap work file raises (the employee pass ends).
void ReencodePhotograph(dbaccess::TDbTable& employee, platform::UiServices& ui);

// An employee number that may become part of a file name: not empty, and
// without a path separator, a drive colon or "..".
bool UsableInFileName(const std::string& emp_no);

// Writes every photograph of the company, unchanged, to "c:\temp\" + emp_no
// + ".jpg" (a bitmap photograph too). An employee whose number cannot be
// part of a file name is shown as a message and skipped. A file that cannot
// be written raises.
void ExportPhotographs(schema::UpgradeContext& ctx);

// Loads "c:\temp\photo\" + emp_no + ".jpg", where it exists, into the
// employee's photograph and saves the row; rows without a file keep theirs.
// Employee numbers are checked as for the export. A file that cannot be
// read raises.
void ImportPhotographs(schema::UpgradeContext& ctx);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_PHOTOGRAPHS_H_
