#include "platform/file_system.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/folder_names.h"
#include "platform/locale_info.h"

namespace kx8::platform {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// A pattern is compiled into these tokens: "?" always becomes kAnyOrNone,
// "*" before "." becomes kStarToLastDot, "." before "*", "?" or the end
// becomes kDotOrEnd.
enum class Token { kLiteral, kStar, kStarToLastDot, kAnyOrNone, kDotOrEnd };

struct PatternToken {
  Token kind;
  char literal;
};

std::vector<PatternToken> CompilePattern(std::string_view pattern) {
  std::vector<PatternToken> tokens;
  tokens.reserve(pattern.size());
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    const char next = i + 1 < pattern.size() ? pattern[i + 1] : '\0';
    if (c == '?') {
      tokens.push_back({Token::kAnyOrNone, 0});
    } else if (c == '*') {
      tokens.push_back({next == '.' ? Token::kStarToLastDot : Token::kStar, 0});
    } else if (c == '.' && (next == '*' || next == '?' || next == '\0')) {
      tokens.push_back({Token::kDotOrEnd, 0});
    } else {
      tokens.push_back({Token::kLiteral, c});
    }
  }
  return tokens;
}

class MaskMatcher {
 public:
  MaskMatcher(std::string_view name, const std::vector<PatternToken>& tokens)
      : name_(name),
        tokens_(tokens),
        last_dot_(name.rfind('.')),
        memo_((tokens.size() + 1) * (name.size() + 1), kUnknown) {}

  bool Matches() { return Match(0, 0); }

 private:
  static constexpr signed char kUnknown = -1;

  bool Match(std::size_t t, std::size_t n) {
    signed char& known = memo_[t * (name_.size() + 1) + n];
    if (known == kUnknown) known = Compute(t, n) ? 1 : 0;
    return known == 1;
  }

  bool Compute(std::size_t t, std::size_t n) {
    if (t == tokens_.size()) return n == name_.size();
    const bool at_end = n == name_.size();
    switch (tokens_[t].kind) {
      case Token::kLiteral:
        return !at_end && AsciiUpper(name_[n]) == AsciiUpper(tokens_[t].literal) && Match(t + 1, n + 1);
      case Token::kStar:
        for (std::size_t k = n; k <= name_.size(); ++k) {
          if (Match(t + 1, k)) return true;
        }
        return false;
      case Token::kStarToLastDot: {
        // Never past the name's last "."; anything when it lies behind.
        const std::size_t limit =
            (last_dot_ != std::string_view::npos && last_dot_ >= n) ? last_dot_ : name_.size();
        for (std::size_t k = n; k <= limit; ++k) {
          if (Match(t + 1, k)) return true;
        }
        return false;
      }
      case Token::kAnyOrNone:
        if (at_end || name_[n] == '.') {
          std::size_t after = t;
          while (after < tokens_.size() && tokens_[after].kind == Token::kAnyOrNone) ++after;
          return Match(after, n);
        }
        return Match(t + 1, n + 1);
      case Token::kDotOrEnd:
        if (at_end) return Match(t + 1, n);
        return name_[n] == '.' && Match(t + 1, n + 1);
    }
    return false;
  }

  std::string_view name_;
  const std::vector<PatternToken>& tokens_;
  std::size_t last_dot_;
  std::vector<signed char> memo_;
};

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char x = AsciiUpper(a[i]);
    const char y = AsciiUpper(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

double ModifiedDate(const struct stat& info) {
  return LocalDateTime(info.st_mtim.tv_sec, info.st_mtim.tv_nsec);
}

}  // namespace

bool MatchesMask(std::string_view name, std::string_view pattern) {
  const std::vector<PatternToken> tokens = CompilePattern(pattern);
  return MaskMatcher(name, tokens).Matches();
}

std::vector<FoundEntry> FindEntries(std::string_view mask, FindAttr attributes) {
  // Folder part and pattern; "c:*.kdt" has the drive as its folder.
  std::size_t split = mask.size();
  while (split > 0 && !IsSeparator(mask[split - 1])) --split;
  if (split == 0 && mask.size() >= 2 && IsAsciiLetter(mask[0]) && mask[1] == ':') split = 2;
  const std::string_view folder = mask.substr(0, split);
  const std::string_view pattern = mask.substr(split);
  if (pattern.empty()) return {};

  std::string native_folder = ResolvePath(folder.empty() ? std::string_view(".") : folder);
  if (native_folder.back() != '/') native_folder += '/';
  DIR* dir = ::opendir(native_folder.c_str());
  if (dir == nullptr) return {};

  const std::vector<PatternToken> tokens = CompilePattern(pattern);
  std::vector<FoundEntry> entries;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (!MaskMatcher(name, tokens).Matches()) continue;

    const std::string full = native_folder + std::string(name);
    struct stat info {};
    if (::stat(full.c_str(), &info) != 0 && ::lstat(full.c_str(), &info) != 0) continue;  // gone
    const bool is_directory = S_ISDIR(info.st_mode);
    if (is_directory && attributes != FindAttr::FilesAndDirectories) continue;
    entries.push_back({std::string(name), is_directory,
                       is_directory ? 0 : static_cast<std::uint64_t>(info.st_size), ModifiedDate(info),
                       S_ISREG(info.st_mode)});
  }
  ::closedir(dir);

  std::sort(entries.begin(), entries.end(),
            [](const FoundEntry& a, const FoundEntry& b) { return LessIgnoringCase(a.name, b.name); });
  return entries;
}

bool ForceDirectories(std::string_view path) {
  if (path.empty()) return false;
  std::string native = ResolvePath(path);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  std::error_code error;
  std::filesystem::create_directories(native, error);
  return std::filesystem::is_directory(native, error);
}

bool DeleteFile(std::string_view path) {
  if (path.empty()) return false;
  const std::string native = ResolvePath(path);
  struct stat info {};
  if (::lstat(native.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) return false;
  const bool deleted = ::unlink(native.c_str()) == 0;
  FolderChanged(native);
  return deleted;
}

std::optional<double> FileModifiedDate(std::string_view path) {
  if (path.empty()) return std::nullopt;
  struct stat info {};
  if (::stat(ResolvePath(path).c_str(), &info) != 0) return std::nullopt;
  return ModifiedDate(info);
}

}  // namespace kx8::platform
