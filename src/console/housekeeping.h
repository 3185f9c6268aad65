// Company backup and file housekeeping: the wallpaper extraction at the
// start of a run, the backup archive of each company before it is changed,
// the clean-up of the company folder and of the tables' backup copies late
// in each pass and the emptying of the temporary folder at the end of the
// run. (Putting a company back from its archive is console/restore.h.)
//
// All archive work goes through the window's zip component (ZipArchive1,
// passed in as `zip`); every path is the root folder (TMainForm::
// RootFolder()) plus the program's relative names.
//
// Backups. A company's archive is root + "BACKUP\" + code + " " + stamp +
// ".zip", the stamp being the moment formatted with "ddddddhhss AMPM"
// (long date, hour on the 12-hour clock, seconds, a blank, the morning or
// afternoon marker; no minutes). It holds every file directly in the
// company folder that matches "*.kdt", "*.kdi", "*.kdm", "*.kdd", "*.km" or
// "*.ki". An existing archive is never changed: when the name is taken,
// " (2)", " (3)", ... go before ".zip". The archive is checked entry by
// entry against the company's files before it gets its name; when it
// cannot be written or checked, the backup shows
//   "Backup of company " + code + " failed: " + reason +
//   ". The company was not updated."
// and answers false, and the run leaves that company alone.
//
// The other steps report nothing: missing files and failed deletions are
// skipped silently.
#ifndef KX8_CONSOLE_HOUSEKEEPING_H_
#define KX8_CONSOLE_HOUSEKEEPING_H_

#include <string>
#include <vector>

#include "console/main_form.h"
#include "platform/locale_info.h"
#include "platform/ui_services.h"
#include "platform/zip_archive.h"

namespace kx8::console {

// The file masks of a company backup, in their order ("*.kdt", "*.kdi",
// "*.kdm", "*.kdd", "*.km", "*.ki").
const std::vector<std::string>& CompanyBackupMasks();

// Extracts "wallpaper.jpg" from root + "wallpaper.zip" into root + "IMAGE"
// with the hourglass as the screen cursor; nothing when there is no such
// archive. The result of the extraction is not looked at.
void ExtractWallpaper(TMainForm& form, platform::TZipArchive& zip);

// The archive name of a backup of `code` taken at `when` (before any
// " (n)" for a name that is taken).
std::string BackupArchiveName(const std::string& root, const std::string& code, double when,
                              const platform::FormatSettings& settings);

// Backs up the company folder of `code` into a new, checked archive. False,
// after the message above, when no usable archive was made.
bool BackupCompany(TMainForm& form, platform::TZipArchive& zip, const std::string& code);
// The same at a given moment with given regional settings.
bool BackupCompany(TMainForm& form, platform::TZipArchive& zip, const std::string& code, double when,
                   const platform::FormatSettings& settings);

// Deletes the files of the company folder whose upper-cased names hold
// ".BAK" or ".~", then those matching "TEMP_*.*" (folders are left alone).
void CleanCompanyFolder(TMainForm& form, const std::string& code);

// For each of the thirteen tables whose backup copy the upgrade may leave
// (P_DTRXAW, EMPLOYMT, ..., PASS): when the work table DbTable1 finds
// T + ".KDT.BAK" on the company connection, deletes T's ".KDT.BAK",
// ".KDI.BAK" (and for EMPLOYEE ".KDM.BAK") from the company folder. The work
// table must be closed, as the steps before leave it; it keeps the last
// name set.
void RemoveBackupFiles(TMainForm& form);

// Deletes the "*.KDT" and then the "*.KDI" files of root + "KELPATMP\".
void EmptyTemporaryFolder(TMainForm& form);
// The same for `folder`; refuses (does nothing to) any folder whose path
// does not contain "KELPATMP" once "." and ".." are taken out of it.
void EmptyTemporaryFolder(const std::string& folder);

}  // namespace kx8::console

#endif  // KX8_CONSOLE_HOUSEKEEPING_H_
