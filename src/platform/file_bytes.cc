#include "platform/file_bytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "platform/path.h"

namespace kx8::platform {
namespace {

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

std::string ReadFileBytes(std::string_view path) {
  const std::string native = ResolvePath(path);
  std::string bytes;
  Fd fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() >= 0) {
    char buf[65536];
    for (;;) {
      const ssize_t n = ::read(fd.get(), buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      if (n == 0) return bytes;
      bytes.append(buf, static_cast<std::size_t>(n));
    }
  }
  throw std::runtime_error("Cannot open file " + std::string(path) + ".");
}

void WriteFileBytes(std::string_view path, std::string_view bytes) {
  const std::string target = ResolvePath(path);
  // The temporary file sits beside the target, so that the rename stays
  // within one file system.
  std::string temporary = ParentFolder(target) + ".kx8-XXXXXX";
  Fd fd(::mkstemp(temporary.data()));
  const bool created = fd.get() >= 0;
  const bool written = created && WriteAll(fd.get(), bytes) && ::fchmod(fd.get(), 0644) == 0 &&
                       ::fsync(fd.get()) == 0 && fd.Close() == 0 && ::rename(temporary.c_str(), target.c_str()) == 0;
  if (!written) {
    if (created) ::unlink(temporary.c_str());
    throw std::runtime_error("Cannot create file " + std::string(path) + ".");
  }
}

}  // namespace kx8::platform
