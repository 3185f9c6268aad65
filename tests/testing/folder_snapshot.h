// Every regular file under a folder with its bytes and modification time:
// what tests compare to show that a command wrote nothing.
#ifndef KX8_TESTS_TESTING_FOLDER_SNAPSHOT_H_
#define KX8_TESTS_TESTING_FOLDER_SNAPSHOT_H_

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>

namespace kx8::testing {

using FolderSnapshot = std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>>;

inline FolderSnapshot Snapshot(const std::filesystem::path& folder) {
  FolderSnapshot files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
    if (!e.is_regular_file()) continue;
    std::ifstream in(e.path(), std::ios::binary);
    files[e.path().string()] = {std::string(std::istreambuf_iterator<char>(in), {}), e.last_write_time()};
  }
  return files;
}

}  // namespace kx8::testing

#endif  // KX8_TESTS_TESTING_FOLDER_SNAPSHOT_H_
