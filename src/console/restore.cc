#include "console/restore.h"

#include <map>
#include <stdexcept>
#include <vector>

#include "console/housekeeping.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/staged_move.h"
#include "platform/zip_archive.h"

namespace kx8::console {
namespace {

const char kRestoreQuestion[] = "Do you wish to replace the files of the folder with those of the archive ?";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && !IsSeparator(folder.back())) folder += '\\';
  return folder;
}

std::string WithoutTrailingSlash(std::string native) {
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

// The key under which two names are the same file: ASCII upper case, one
// kind of separator.
std::string FileKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == '\\') c = '/';
  }
  return key;
}

// `native` below `folder` (both native), as a relative path; "" when it is
// not below it.
std::string RelativeTo(const std::string& folder, const std::string& native) {
  const std::string prefix = folder == "/" ? folder : folder + "/";
  if (native.size() <= prefix.size() || native.compare(0, prefix.size(), prefix) != 0) return {};
  return native.substr(prefix.size());
}

struct ArchivedFile {
  platform::TZipEntry entry;
  std::string target;  // below the company folder, native, in the case found on disk
};

}  // namespace

void FinishInterruptedRestore(const std::string& folder, platform::UiServices& ui) {
  const std::optional<platform::FinishedMoves> finished = platform::FinishStagedMoves(folder);
  if (!finished) return;
  ui.MessageBox("The interrupted " + finished->note + " was completed: " + std::to_string(finished->moved) +
                    " of its " + std::to_string(finished->total) + " files were put in place now.",
                "");
}

RestoreOutcome RestoreCompany(const std::string& archive, const std::string& folder, platform::UiServices& ui) {
  FinishInterruptedRestore(folder, ui);

  const std::string refused = "Cannot restore from " + archive + ": ";
  const std::string untouched = "; nothing was restored";
  platform::TZipArchive zip;
  zip.SetZipFilename(archive);
  zip.SetFilesToProcess("");
  const std::vector<platform::TZipEntry> entries = zip.Entries();
  if (!zip.LastError().empty()) throw std::runtime_error(refused + zip.LastError());
  std::map<std::string, std::string> seen;  // FileKey -> the entry's name
  std::uint64_t total = 0;
  for (const platform::TZipEntry& entry : entries) {
    if (entry.is_directory) continue;
    const auto [at, added] = seen.emplace(FileKey(entry.name), entry.name);
    if (!added) {
      throw std::runtime_error(refused + "the entries \"" + at->second + "\" and \"" + entry.name +
                               "\" name one file" + untouched);
    }
    total += entry.size;
  }
  if (seen.empty()) throw std::runtime_error(refused + "the archive holds no file");
  // The sizes the archive declares, before reading it back: the staged
  // copies need that much room beside the company's files.
  const std::uint64_t free = platform::FreeBytes(folder);
  if (total > free) {
    throw std::runtime_error(refused + "its files take " + std::to_string(total) + " bytes and only " +
                             std::to_string(free) + " bytes are free on the disk of " + folder + untouched);
  }
  // The whole archive is read back (every CRC, and every name checked)
  // before anything is shown or written.
  if (zip.TestArchive() != platform::TZipResult::Ok) throw std::runtime_error(refused + zip.LastError());

  const std::string native_folder = WithoutTrailingSlash(platform::ResolvePath(folder));
  const std::string prefix = WithSeparator(folder);
  std::vector<ArchivedFile> files;
  for (const platform::TZipEntry& entry : entries) {
    if (entry.is_directory) continue;
    ArchivedFile file{entry, RelativeTo(native_folder, platform::ResolvePath(prefix + entry.name))};
    const std::string reason = file.target.empty() ? "it names no file below the folder"
                                                   : platform::UnsafeTargetReason(native_folder, file.target);
    if (!reason.empty()) {
      throw std::runtime_error("Cannot restore the entry \"" + entry.name + "\" of " + archive + " into " + folder +
                               ": " + reason + untouched);
    }
    files.push_back(std::move(file));
  }

  std::string replaced, added, kept;
  for (const ArchivedFile& file : files) {
    (platform::FileExists(prefix + file.entry.name) ? replaced : added) += "\n  " + file.entry.name;
  }
  for (const std::string& mask : CompanyBackupMasks()) {
    for (const platform::FoundEntry& found : platform::FindEntries(prefix + mask, platform::FindAttr::Files)) {
      if (!seen.contains(FileKey(found.name))) kept += "\n  " + found.name;
    }
  }
  std::string listing = "The archive " + archive + " holds " + std::to_string(files.size()) + " files of " +
                        std::to_string(total) + " bytes in all for the folder " + folder + ".";
  if (!replaced.empty()) listing += "\nFiles replaced:" + replaced;
  if (!added.empty()) listing += "\nFiles added:" + added;
  if (!kept.empty()) listing += "\nDatabase files the archive does not hold, left as they are:" + kept;
  ui.MessageBox(listing, "");
  if (!ui.Confirm(kRestoreQuestion)) return RestoreOutcome::Declined;

  platform::StagingArea staging(folder);
  const std::string failed = "Restoring " + archive + " into " + folder + " failed: ";
  const std::string unchanged = "; the folder was not changed";
  zip.SetUnzipToFolder(staging.FileArea());
  if (zip.Extract() != platform::TZipResult::Ok) throw std::runtime_error(failed + zip.LastError() + unchanged);
  const std::string native_area = WithoutTrailingSlash(platform::ResolvePath(staging.FileArea()));
  std::vector<platform::StagedMove> moves;
  for (const ArchivedFile& file : files) {
    // What landed on the disk is read back: the rename below makes it the
    // company's only copy.
    const std::string staged = platform::ResolvePath(staging.FileArea() + file.entry.name);
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string error;
    if (!platform::FileChecksum(staged, size, crc, error)) throw std::runtime_error(failed + error + unchanged);
    if (size != file.entry.size || crc != file.entry.crc) {
      throw std::runtime_error(failed + "the extracted " + file.entry.name + " does not match its entry" + unchanged);
    }
    moves.push_back({RelativeTo(native_area, staged), file.target});
  }
  staging.Commit(moves, "restore of " + folder + " from " + archive);
  ui.MessageBox(std::to_string(files.size()) + " files restored into " + folder + ".", "");
  return RestoreOutcome::Restored;
}

}  // namespace kx8::console
