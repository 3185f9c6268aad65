#include <filesystem>
#include "platform/path.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/folder_names.h"

namespace kx8::platform {
namespace {

constexpr std::string_view kDriveVariablePrefix = "KX8_DRIVE_";
constexpr std::string_view kDefaultDriveFolder = "/mnt/";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The folder a drive letter stands for: $KX8_DRIVE_<LETTER> when set and
// not empty, otherwise /mnt/<letter>.
std::string DriveFolder(char letter) {
  std::string variable(kDriveVariablePrefix);
  variable += AsciiUpper(letter);
  const char* value = std::getenv(variable.c_str());
  if (value != nullptr && *value != '\0') {
    std::string folder(value);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  std::string folder(kDefaultDriveFolder);
  folder += AsciiLower(letter);
  return folder;
}

// Components of a path split on either separator; empty ones are skipped,
// which collapses repeated separators.
std::vector<std::string_view> SplitComponents(std::string_view text) {
  std::vector<std::string_view> components;
  std::size_t begin = 0;
  while (begin < text.size()) {
    if (IsSeparator(text[begin])) {
      ++begin;
      continue;
    }
    std::size_t end = begin;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    components.push_back(text.substr(begin, end - begin));
    begin = end;
  }
  return components;
}

void AppendComponent(std::string& path, std::string_view component) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += component;
}

bool NameExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

// Looks in `folder` for an entry equal to `name` without regard to ASCII
// case; of several, the first in byte order. Returns "" when none matches
// or the folder cannot be read. The folder's listing is kept between
// questions (platform/folder_names.h).
std::string FindCaseVariant(const std::string& folder, std::string_view name) {
  const std::shared_ptr<const FolderNames> names = ListFolder(folder);
  return names == nullptr ? std::string() : names->Find(name);
}

// The part between the last component and the end (trailing separators
// skipped): [begin, end) of the last component.
struct ComponentRange {
  std::size_t begin;
  std::size_t end;
};

ComponentRange LastComponent(std::string_view path) {
  std::size_t end = path.size();
  while (end > 0 && IsSeparator(path[end - 1])) --end;
  std::size_t begin = end;
  while (begin > 0 && !IsSeparator(path[begin - 1])) --begin;
  return {begin, end};
}

}  // namespace

std::string NativePath(std::string_view path) {
  if (path.empty()) return {};

  // The anchor is the fixed start that ".." cannot climb above; `rooted`
  // tells whether there is one.
  std::string anchor;
  bool rooted = false;
  std::vector<std::string_view> components;

  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    anchor = DriveFolder(path[0]);
    rooted = true;
    components = SplitComponents(path.substr(2));
  } else if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    // UNC: "//server/share" is the anchor.
    anchor = "//";
    rooted = true;
    components = SplitComponents(path.substr(2));
    std::size_t taken = 0;
    for (; taken < 2 && taken < components.size(); ++taken) {
      if (taken > 0) anchor += '/';
      anchor += components[taken];
    }
    components.erase(components.begin(), components.begin() + static_cast<std::ptrdiff_t>(taken));
  } else if (IsSeparator(path[0])) {
    anchor = "/";
    rooted = true;
    components = SplitComponents(path);
  } else {
    components = SplitComponents(path);
  }

  bool names_folder = IsSeparator(path.back());
  std::vector<std::string_view> kept;
  for (std::size_t i = 0; i < components.size(); ++i) {
    const std::string_view component = components[i];
    const bool last = i + 1 == components.size();
    if (component == ".") {
      if (last) names_folder = true;
      continue;
    }
    if (component == "..") {
      if (last) names_folder = true;
      if (!kept.empty() && kept.back() != "..") {
        kept.pop_back();
      } else if (!rooted) {
        kept.push_back(component);
      }
      continue;
    }
    kept.push_back(component);
  }

  std::string native = anchor;
  for (const std::string_view component : kept) AppendComponent(native, component);
  if (native.empty()) native = ".";
  if (names_folder && native.back() != '/') native += '/';
  return native;
}

namespace {

// ResolvePath of a native path that does not exist as spelt.
std::string ResolveMissing(const std::string& native) {
  // Mostly only the last component is new or spelt in another case, and the
  // folder holding it exists as spelt: its kept listing answers at once,
  // without a look at every component on the way.
  const ComponentRange last = LastComponent(native);
  const std::string_view name = std::string_view(native).substr(last.begin, last.end - last.begin);
  if (!name.empty() && name != "." && name != "..") {
    const std::string folder = native.substr(0, last.begin);
    if (const std::shared_ptr<const FolderNames> names = ListFolder(folder)) {
      const std::string variant = names->Find(name);
      std::string resolved = folder;
      resolved += variant.empty() ? name : std::string_view(variant);
      if (last.end < native.size()) resolved += '/';
      return resolved;
    }
  }

  std::string resolved;
  std::size_t start = 0;
  if (native.starts_with("//")) {
    resolved = "//";
    start = 2;
  } else if (native.front() == '/') {
    resolved = "/";
    start = 1;
  }
  const bool names_folder = native.size() > start && native.back() == '/';

  bool on_disk = true;  // every component so far exists
  for (const std::string_view component : SplitComponents(std::string_view(native).substr(start))) {
    if (!on_disk || component == "." || component == "..") {
      AppendComponent(resolved, component);
      continue;
    }
    std::string exact = resolved;
    AppendComponent(exact, component);
    if (NameExists(exact)) {
      resolved = std::move(exact);
      continue;
    }
    const std::string variant = FindCaseVariant(resolved, component);
    if (variant.empty()) {
      on_disk = false;
      resolved = std::move(exact);
    } else {
      AppendComponent(resolved, variant);
    }
  }
  if (names_folder && resolved.back() != '/') resolved += '/';
  return resolved;
}

// The kind of what the path names (symbolic links followed); 0 for none.
// The spelling given is tried first: it is nearly always the one on disk.
mode_t KindOf(std::string_view path) {
  const std::string native = NativePath(path);
  if (native.empty()) return 0;
  struct stat info {};
  if (::stat(native.c_str(), &info) == 0) return info.st_mode & S_IFMT;
  const std::string resolved = ResolveMissing(native);
  if (resolved == native || ::stat(resolved.c_str(), &info) != 0) return 0;
  return info.st_mode & S_IFMT;
}

}  // namespace

std::string ResolvePath(std::string_view path) {
  const std::string native = NativePath(path);
  if (native.empty() || NameExists(native)) return native;
  return ResolveMissing(native);
}

bool FileExists(std::string_view path) { return KindOf(path) == S_IFREG; }

bool DirectoryExists(std::string_view path) { return KindOf(path) == S_IFDIR; }

std::string ParentFolder(std::string_view native_path) {
  const ComponentRange last = LastComponent(native_path);
  if (last.end == 0) return std::string(native_path);  // "", "/" or "//"
  return std::string(native_path.substr(0, last.begin));
}

std::string FileNamePart(std::string_view native_path) {
  const ComponentRange last = LastComponent(native_path);
  return std::string(native_path.substr(last.begin, last.end - last.begin));
}

std::string ExtensionPart(std::string_view native_path) {
  const std::string name = FileNamePart(native_path);
  if (name == "." || name == "..") return {};
  const std::size_t point = name.rfind('.');
  if (point == std::string::npos || point == 0) return {};
  return name.substr(point);
}

bool SameNameIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string MakeAbsolute(std::string_view path) {
  std::string p(path);
  if (p.empty() || p[0] == '/' || p[0] == '\\') return p;
  if (p.size() >= 2 && p[1] == ':' && ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'))) return p;
  std::error_code ec;
  std::string cwd = std::filesystem::current_path(ec).string();
  if (ec || cwd.empty()) return p;
  if (cwd.back() != '/') cwd += '/';
  return cwd + p;
}

}  // namespace kx8::platform
