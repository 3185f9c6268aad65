#include "conversions/update_archive.h"

#include <filesystem>
#include <stdexcept>

#include "platform/file_bytes.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/staged_move.h"

namespace kx8::conversions {
namespace {

std::string WithoutTrailingSlash(std::string native) {
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

// The hourglass for as long as the extraction runs, also when it fails.
class HourGlass {
 public:
  explicit HourGlass(platform::UiServices& ui) : ui_(ui) { ui_.SetScreenCursor(platform::Cursor::HourGlass); }
  ~HourGlass() { ui_.SetScreenCursor(platform::Cursor::Default); }
  HourGlass(const HourGlass&) = delete;
  HourGlass& operator=(const HourGlass&) = delete;

 private:
  platform::UiServices& ui_;
};

// True when the native file `target` holds exactly the bytes of `staged`.
bool SameBytes(const std::string& staged, const std::string& target) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_regular_file(target, ec)) return false;
  const auto size = fs::file_size(target, ec);
  if (ec || size != fs::file_size(staged, ec) || ec) return false;
  return platform::ReadFileBytes(staged) == platform::ReadFileBytes(target);
}

}  // namespace

std::string ArchiveFolder(const std::string& root) {
  std::size_t end = root.size();
  while (end > 0 && root[end - 1] != '\\' && root[end - 1] != '/') --end;
  return root.substr(0, end);
}

bool ArchiveCopiesInFolder(platform::TZipArchive& zip, const std::string& archive, const std::string& folder,
                           const std::string& mask) {
  zip.SetZipFilename(archive);
  if (zip.Entries().empty()) return false;  // unreadable (or empty): the refresh decides
  // The entries the extraction would take for this mask, compared byte for
  // byte with the company's files.
  zip.SetFilesToProcess("");
  zip.AddMask(mask);
  try {
    return zip.SelectedEntriesHoldFiles(
        [&](const std::string& name) { return platform::ResolvePath(folder + "\\" + name); });
  } catch (const platform::EZipError&) {
    return false;  // a name that is not safe: the extraction refuses it and says so
  }
}

void ExtractIntoCompanyFolder(platform::TZipArchive& zip, platform::UiServices& ui, const std::string& archive,
                              const std::string& folder, const std::vector<std::string>& masks) {
  namespace fs = std::filesystem;
  HourGlass hourglass(ui);
  zip.SetZipFilename(archive);
  zip.SetFilesToProcess("");
  for (const std::string& mask : masks) zip.AddMask(mask);
  const std::string failed = "The templates of " + archive + " could not be put into " + folder + ": ";
  const std::string native_folder = WithoutTrailingSlash(platform::ResolvePath(folder));
  const std::string prefix = native_folder + "/";
  // The company's file an entry would replace (in the company's own letter
  // case, so that the archive's copy replaces it instead of landing beside
  // it); "" for a name that leads out of the folder.
  const auto company_file = [&](const std::string& name, std::string* target) {
    const std::string resolved = platform::ResolvePath(folder + "\\" + name);
    if (resolved.compare(0, prefix.size(), prefix) != 0) return std::string();
    *target = resolved.substr(prefix.size());
    return resolved;
  };
  // A refresh from an unchanged archive writes nothing: when every entry
  // already sits in the company folder byte for byte, nothing is extracted.
  // Anything else (a file that differs or is missing, an entry that cannot
  // be read, a name that is not safe) takes the way below, which reports it.
  const bool unchanged = zip.SelectedEntriesHoldFiles([&](const std::string& name) {
    std::string target;
    const std::string resolved = company_file(name, &target);
    if (resolved.empty() || !platform::UnsafeTargetReason(native_folder, target).empty()) return std::string();
    return resolved;
  });
  if (unchanged) return;

  platform::StagingArea staging(folder);
  zip.SetUnzipToFolder(staging.FileArea());
  const platform::TZipResult result = zip.Extract();
  if (result == platform::TZipResult::NoFiles) return;
  if (result != platform::TZipResult::Ok) throw std::runtime_error(failed + zip.LastError());

  const fs::path area = WithoutTrailingSlash(platform::ResolvePath(staging.FileArea()));
  std::vector<platform::StagedMove> moves;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(area)) {
    if (!e.is_regular_file()) continue;
    const std::string staged = e.path().lexically_relative(area).generic_string();
    std::string target;
    if (company_file(staged, &target).empty()) {
      throw std::runtime_error(failed + "the entry " + staged + " names no file below the folder");
    }
    const std::string reason = platform::UnsafeTargetReason(native_folder, target);
    if (!reason.empty()) throw std::runtime_error(failed + staged + ": " + reason);
    // A file the archive would replace by the same bytes is left as it is:
    // of an archive that changed in part, only the files that differ are
    // replaced.
    if (SameBytes(e.path().string(), prefix + target)) continue;
    moves.push_back({staged, target});
  }
  if (moves.empty()) return;
  staging.Commit(moves, "template refresh of " + folder + " from " + archive);
}

}  // namespace kx8::conversions
