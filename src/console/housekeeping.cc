#include "console/housekeeping.h"

#include <initializer_list>
#include <iterator>
#include <string_view>
#include <vector>

#include "conversions/update_archive.h"
#include "platform/file_system.h"
#include "platform/path.h"

namespace kx8::console {
namespace {

// --- the system's texts ------------------------------------------------------

const char kWallpaperArchive[] = "wallpaper.zip";
const char kWallpaperFile[] = "wallpaper.jpg";
const char kImageFolder[] = "IMAGE";
const char kCompanyFolder[] = "COMPANY\\";
const char kBackupFolder[] = "BACKUP\\";
const char kTemporaryFolder[] = "KELPATMP\\";
const char kTemporaryFolderMark[] = "KELPATMP";
const char kBackupStampFormat[] = "ddddddhhss AMPM";
const char kArchiveExtension[] = ".zip";
const char* const kBackupMasks[] = {"*.kdt", "*.kdi", "*.kdm", "*.kdd", "*.km", "*.ki"};
const char* const kTemporaryMasks[] = {"*.KDT", "*.KDI"};
const char kAllFiles[] = "*.*";
const char kTempFiles[] = "TEMP_*.*";
const char kTempMark[] = "TEMP_";
const char* const kCleanedMarks[] = {".BAK", ".~"};

const char kBackupFailed[] = "Backup of company ";
const char kBackupFailedMiddle[] = " failed: ";
const char kBackupFailedEnd[] = ". The company was not updated.";

// The tables whose backup copies are removed at the end of a pass, with the
// files removed for each, in this order.
struct BackupCopies {
  const char* table;
  std::vector<const char*> files;
};
const BackupCopies kBackupCopies[] = {
    {"P_DTRXAW", {"P_DTRXAW.KDT.BAK", "P_DTRXAW.KDI.BAK"}},
    {"EMPLOYMT", {"EMPLOYMT.KDT.BAK", "EMPLOYMT.KDI.BAK"}},
    {"EMPMISC", {"EMPMISC.KDT.BAK", "EMPMISC.KDI.BAK"}},
    {"EMPLOYEE", {"EMPLOYEE.KDT.BAK", "EMPLOYEE.KDI.BAK", "EMPLOYEE.KDM.BAK"}},
    {"EMP_PROS", {"EMP_PROS.KDT.BAK", "EMP_PROS.KDI.BAK"}},
    {"P_HTRX", {"P_HTRX.KDT.BAK", "P_HTRX.KDI.BAK"}},
    {"PAYPARA1", {"PAYPARA1.KDT.BAK", "PAYPARA1.KDI.BAK"}},
    {"SETUP", {"SETUP.KDT.BAK", "SETUP.KDI.BAK"}},
    {"PAYPARA", {"PAYPARA.KDT.BAK", "PAYPARA.KDI.BAK"}},
    {"MEDICAL", {"MEDICAL.KDT.BAK", "MEDICAL.KDI.BAK"}},
    {"EMPDOC", {"EMPDOC.KDT.BAK", "EMPDOC.KDI.BAK"}},
    {"TRNNO", {"TRNNO.KDT.BAK", "TRNNO.KDI.BAK"}},
    {"PASS", {"PASS.KDT.BAK", "PASS.KDI.BAK"}},
};
const char kBackupCopySuffix[] = ".KDT.BAK";

// Names tried for a backup archive before giving up: " (2)" to " (999)".
constexpr int kLastArchiveNumber = 999;

// --- helpers -----------------------------------------------------------------

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// The path up to and including its last separator.
std::string FolderPart(const std::string& path) {
  std::size_t end = path.size();
  while (end > 0 && !IsSeparator(path[end - 1])) --end;
  return path.substr(0, end);
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && !IsSeparator(folder.back())) folder += '\\';
  return folder;
}

std::string CompanyFolder(const TMainForm& form, const std::string& code) {
  return form.RootFolder() + kCompanyFolder + code;
}

// "X.zip" -> "X (n).zip".
std::string NumberedArchiveName(const std::string& name, int number) {
  const std::size_t stem = name.size() - (sizeof kArchiveExtension - 1);
  return name.substr(0, stem) + " (" + std::to_string(number) + ")" + name.substr(stem);
}

// Deletes the plain files of the mask's folder that match it and whose
// upper-cased names hold one of the marks.
void DeleteMarkedFiles(const std::string& folder, const char* pattern, std::initializer_list<std::string_view> marks) {
  for (const platform::FoundEntry& entry :
       platform::FindEntries(folder + pattern, platform::FindAttr::FilesAndDirectories)) {
    if (entry.is_directory) continue;
    const std::string name = Upper(entry.name);
    for (std::string_view mark : marks) {
      if (name.find(mark) != std::string::npos) {
        platform::DeleteFile(folder + entry.name);
        break;
      }
    }
  }
}

}  // namespace

const std::vector<std::string>& CompanyBackupMasks() {
  static const std::vector<std::string> masks(std::begin(kBackupMasks), std::end(kBackupMasks));
  return masks;
}

void ExtractWallpaper(TMainForm& form, platform::TZipArchive& zip) {
  zip.SetZipFilename(FolderPart(form.RootFolder()) + kWallpaperArchive);
  if (!platform::FileExists(zip.ZipFilename())) return;
  form.ui().SetScreenCursor(platform::Cursor::HourGlass);
  const std::string folder = form.RootFolder() + kImageFolder;
  // A wallpaper already in place byte for byte is left alone: extracting it
  // at every start would write and flush the same bytes again. Anything
  // else (missing, different, unreadable, an unsafe name) is extracted,
  // which replaces it or says why not. The check leaves the archive's mask
  // set for the extraction.
  if (conversions::ArchiveCopiesInFolder(zip, zip.ZipFilename(), folder, kWallpaperFile)) return;
  zip.SetUnzipToFolder(folder);
  (void)zip.Extract();
}

std::string BackupArchiveName(const std::string& root, const std::string& code, double when,
                              const platform::FormatSettings& settings) {
  return root + kBackupFolder + code + " " + platform::FormatDateTime(kBackupStampFormat, when, settings) +
         kArchiveExtension;
}

bool BackupCompany(TMainForm& form, platform::TZipArchive& zip, const std::string& code) {
  return BackupCompany(form, zip, code, platform::Now(), platform::WorkstationFormatSettings());
}

bool BackupCompany(TMainForm& form, platform::TZipArchive& zip, const std::string& code, double when,
                   const platform::FormatSettings& settings) {
  const std::string folder = CompanyFolder(form, code);
  zip.SetFilesToProcess("");
  for (const char* mask : kBackupMasks) zip.AddMask(folder + "\\" + mask);

  const std::string first = BackupArchiveName(form.RootFolder(), code, when, settings);
  std::string name = first;
  platform::TZipResult result = platform::TZipResult::ArchiveExists;
  for (int number = 2; number <= kLastArchiveNumber + 1; ++number) {
    zip.SetZipFilename(name);
    result = zip.Compress();
    if (result != platform::TZipResult::ArchiveExists) break;
    name = NumberedArchiveName(first, number);
  }
  if (result == platform::TZipResult::Ok) return true;

  std::string reason;
  switch (result) {
    case platform::TZipResult::NoFiles:
      reason =
          "the folder " + folder + " holds no database file; the archive " + zip.ZipFilename() + " was not written";
      break;
    case platform::TZipResult::ArchiveExists:
      reason = "every name from " + first + " to " + NumberedArchiveName(first, kLastArchiveNumber) + " is taken";
      break;
    default:
      reason = zip.LastError();
      break;
  }
  form.ui().MessageBox(kBackupFailed + code + kBackupFailedMiddle + reason + kBackupFailedEnd, "");
  return false;
}

void CleanCompanyFolder(TMainForm& form, const std::string& code) {
  const std::string folder = CompanyFolder(form, code) + "\\";
  DeleteMarkedFiles(folder, kAllFiles, {kCleanedMarks[0], kCleanedMarks[1]});
  DeleteMarkedFiles(folder, kTempFiles, {kTempMark});
}

void RemoveBackupFiles(TMainForm& form) {
  const std::string folder = WithSeparator(form.DbConnection1.DataFolder());
  // The work table is named for each copy below; an earlier step may have
  // left it open, and an open table cannot be renamed.
  form.DbTable1.Close();
  for (const BackupCopies& copies : kBackupCopies) {
    form.DbTable1.SetTableName(std::string(copies.table) + kBackupCopySuffix);
    if (!form.DbTable1.TableExists()) continue;
    for (const char* file : copies.files) platform::DeleteFile(folder + file);
  }
}

void EmptyTemporaryFolder(TMainForm& form) { EmptyTemporaryFolder(form.RootFolder() + kTemporaryFolder); }

void EmptyTemporaryFolder(const std::string& folder) {
  if (platform::NativePath(folder).find(kTemporaryFolderMark) == std::string::npos) return;
  if (!platform::DirectoryExists(folder)) return;
  const std::string prefix = WithSeparator(folder);
  for (const char* mask : kTemporaryMasks) {
    for (const platform::FoundEntry& entry : platform::FindEntries(prefix + mask, platform::FindAttr::Files)) {
      platform::DeleteFile(prefix + entry.name);
    }
  }
}

}  // namespace kx8::console
