#include "conversions/update_archive.h"

#include <filesystem>
#include <stdexcept>

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

}  // namespace

std::string ArchiveFolder(const std::string& root) {
  std::size_t end = root.size();
  while (end > 0 && root[end - 1] != '\\' && root[end - 1] != '/') --end;
  return root.substr(0, end);
}

void ExtractIntoCompanyFolder(platform::TZipArchive& zip, platform::UiServices& ui, const std::string& archive,
                              const std::string& folder, const std::vector<std::string>& masks) {
  namespace fs = std::filesystem;
  HourGlass hourglass(ui);
  zip.SetZipFilename(archive);
  zip.SetFilesToProcess("");
  for (const std::string& mask : masks) zip.AddMask(mask);
  const std::string failed = "The templates of " + archive + " could not be put into " + folder + ": ";
  platform::StagingArea staging(folder);
  zip.SetUnzipToFolder(staging.FileArea());
  const platform::TZipResult result = zip.Extract();
  if (result == platform::TZipResult::NoFiles) return;
  if (result != platform::TZipResult::Ok) throw std::runtime_error(failed + zip.LastError());

  const std::string native_folder = WithoutTrailingSlash(platform::ResolvePath(folder));
  const fs::path area = WithoutTrailingSlash(platform::ResolvePath(staging.FileArea()));
  std::vector<platform::StagedMove> moves;
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(area)) {
    if (!e.is_regular_file()) continue;
    const std::string staged = e.path().lexically_relative(area).generic_string();
    // The company's own letter case of a file it holds already, so that the
    // archive's copy replaces it instead of landing beside it.
    const std::string resolved = platform::ResolvePath(folder + "\\" + staged);
    const std::string prefix = native_folder + "/";
    if (resolved.compare(0, prefix.size(), prefix) != 0) {
      throw std::runtime_error(failed + "the entry " + staged + " names no file below the folder");
    }
    const std::string target = resolved.substr(prefix.size());
    const std::string reason = platform::UnsafeTargetReason(native_folder, target);
    if (!reason.empty()) throw std::runtime_error(failed + staged + ": " + reason);
    moves.push_back({staged, target});
  }
  staging.Commit(moves, "template refresh of " + folder + " from " + archive);
}

}  // namespace kx8::conversions
