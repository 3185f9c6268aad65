#include "platform/durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/path.h"

namespace kx8::platform {
namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error("Cannot " + what + " " + path + ": " + std::strerror(error));
}

void SyncFolder(const std::string& native_folder) {
  int fd = ::open(native_folder.empty() ? "." : native_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("open the folder", native_folder, errno);
  const int rc = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  if (rc != 0) Fail("flush the folder", native_folder, error);
}

void Replace(std::string_view path, const std::string& content, bool flush) {
  const std::string target = ResolvePath(path);
  const std::string temporary = target + ".new";
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Fail("create", temporary, errno);
  std::size_t done = 0;
  while (done < content.size()) {
    ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      ::unlink(temporary.c_str());
      Fail("write", temporary, error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (flush && ::fsync(fd) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(temporary.c_str());
    Fail("flush", temporary, error);
  }
  ::close(fd);
  if (::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    Fail("replace", target, error);
  }
  if (flush) SyncFolder(ParentFolder(target));
}

void Delete(std::string_view path, bool flush) {
  const std::string native = ResolvePath(path);
  if (::unlink(native.c_str()) != 0) {
    if (errno == ENOENT) return;
    Fail("delete", native, errno);
  }
  if (flush) SyncFolder(ParentFolder(native));
}

}  // namespace

void WriteFileDurably(std::string_view path, const std::string& content) { Replace(path, content, true); }

void WriteFileUnflushed(std::string_view path, const std::string& content) { Replace(path, content, false); }

void DeleteFileDurably(std::string_view path) { Delete(path, true); }

void DeleteFileUnflushed(std::string_view path) { Delete(path, false); }

std::optional<std::string> ReadWholeFile(std::string_view path) {
  const std::string native = ResolvePath(path);
  int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return std::nullopt;
    Fail("open", native, errno);
  }
  std::string content;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      Fail("read", native, error);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}


bool FolderLock::TryAcquire(std::string_view lock_file) {
  Release();
  const std::string native = ResolvePath(lock_file);
  int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) Fail("create the lock file", native, errno);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) return false;
    Fail("lock", native, error);
  }
  fd_ = fd;
  return true;
}

bool FolderLock::Adopt(int fd, std::string_view lock_file) {
  Release();
  if (fd < 0) return false;
  const std::string native = ResolvePath(lock_file);
  struct stat held {}, named {};
  if (::fstat(fd, &held) != 0 || ::stat(native.c_str(), &named) != 0) return false;
  if (held.st_dev != named.st_dev || held.st_ino != named.st_ino) return false;
  // A descriptor sharing the holder's open file succeeds at once; any
  // other open of the file would find the lock taken.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
  // Not passed further down; should this fail, a later program started by
  // this process would only hold the lock longer, never break it.
  (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
  fd_ = fd;
  return true;
}

void FolderLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the file ends the lock
  fd_ = -1;
}

}  // namespace kx8::platform
