#include "platform/program_info.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "platform/locale_info.h"
#include "platform/path.h"

namespace kx8::platform {
namespace {

constexpr const char* kSelfExe = "/proc/self/exe";

}  // namespace

std::optional<ScopedProgramInfoOverride::Values>& ScopedProgramInfoOverride::Current() {
  static std::optional<Values> current;
  return current;
}

ScopedProgramInfoOverride::ScopedProgramInfoOverride(std::string folder, double file_date)
    : previous_(Current()) {
  Current() = Values{std::move(folder), file_date};
}

ScopedProgramInfoOverride::~ScopedProgramInfoOverride() { Current() = std::move(previous_); }

std::string ProgramFileName() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = ::readlink(kSelfExe, buffer.data(), buffer.size());
    if (length < 0) {
      throw std::system_error(errno, std::generic_category(),
                              "Cannot find the program's executable file (" + std::string(kSelfExe) + ")");
    }
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProgramFolder() {
  if (const auto& current = ScopedProgramInfoOverride::Current()) return current->folder;
  return ParentFolder(ProgramFileName());
}

double ProgramFileDate() {
  if (const auto& current = ScopedProgramInfoOverride::Current()) return current->file_date;
  // /proc/self/exe leads to the file that is running even when it has
  // been renamed or replaced since.
  struct stat info {};
  if (::stat(kSelfExe, &info) != 0) {
    throw std::system_error(errno, std::generic_category(),
                            "Cannot read the date of the program's executable file");
  }
  return LocalDateTime(info.st_mtim.tv_sec, 0);
}

}  // namespace kx8::platform
