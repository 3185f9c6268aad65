// A fresh folder for one test or one test program, removed with everything
// in it when the object ends.
#ifndef KX8_TESTS_TESTING_TEMP_DIR_H_
#define KX8_TESTS_TESTING_TEMP_DIR_H_

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kx8::testing {

class TempDir {
 public:
  // Memory: in /dev/shm when the machine has it writable (fast for tests
  // that build many tables), else in the temporary folder.
  enum class Place { Disk, Memory };

  explicit TempDir(std::string_view prefix = "kx8-test", Place place = Place::Disk) {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    if (place == Place::Memory && std::filesystem::is_directory("/dev/shm", ec) && ::access("/dev/shm", W_OK) == 0) {
      base = "/dev/shm";
    }
    std::string tmpl = (base / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("no temporary folder from " + tmpl);
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // A file in the folder, with the system's separator.
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // A path below the folder, written the way the program writes its paths.
  std::string Win(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
};

}  // namespace kx8::testing

#endif  // KX8_TESTS_TESTING_TEMP_DIR_H_
