// Small fixtures shared by the platform tests: a temporary folder and a
// scoped environment variable.
#ifndef KX8_TESTS_PLATFORM_PLATFORM_TEST_SUPPORT_H_
#define KX8_TESTS_PLATFORM_PLATFORM_TEST_SUPPORT_H_

#include <stdlib.h>
#include <time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kx8::platform::test_support {

// A fresh folder under the system's temporary folder, removed with all its
// content at the end of the scope.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kx8-platform-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

  // The folder in the program's own style: "\" separators and a trailing
  // "\", ready for names to be appended.
  std::string WindowsRoot() const {
    std::string text = path_.string() + "/";
    for (char& c : text) {
      if (c == '/') c = '\\';
    }
    return text;
  }

  // Writes a file (and its folders) below the folder.
  std::filesystem::path Write(std::string_view relative, std::string_view content) const {
    const std::filesystem::path file = path_ / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }

  std::filesystem::path MakeFolder(std::string_view relative) const {
    const std::filesystem::path folder = path_ / relative;
    std::filesystem::create_directories(folder);
    return folder;
  }

 private:
  std::filesystem::path path_;
};

// Sets (or unsets, for nullopt) an environment variable for one scope. A
// change of TZ takes effect at once.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    Set(value);
  }
  ~ScopedEnv() { Set(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
    if (name_ == "TZ") ::tzset();
  }

  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace kx8::platform::test_support

#endif  // KX8_TESTS_PLATFORM_PLATFORM_TEST_SUPPORT_H_
