#include "os/file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/error.h"
#include "dbe/dbe.h"
#include "os/sync_group.h"
#include "os/system_calls.h"
#include "platform/folder_names.h"

namespace dbe::os {
namespace {

[[noreturn]] void IoFail(const std::string& what, const std::string& path) {
  int e = errno;
  Fail(DBE_IO_ERROR, "Error 5065: " + what + " failed (" + std::strerror(e) + "). File: " + path);
}

}  // namespace

File::~File() { Close(); }

File::File(File&& other) noexcept { *this = std::move(other); }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    writable_ = other.writable_;
    path_ = std::move(other.path_);
    known_identity_ = other.known_identity_;
    dev_ = other.dev_;
    ino_ = other.ino_;
    other.fd_ = -1;
    other.known_identity_ = false;
  }
  return *this;
}

File File::OpenExisting(const std::string& path) {
  File f;
  f.path_ = path;
  f.fd_ = Calls().open(path.c_str(), O_RDWR | O_CLOEXEC, 0);
  f.writable_ = true;
  if (f.fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
    f.fd_ = Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
    f.writable_ = false;
  }
  if (f.fd_ < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      Fail(DBE_FILE_NOT_FOUND, "Error 5041: The file was not found. File: " + path);
    }
    IoFail("Opening the file", path);
  }
  struct stat st;
  if (Calls().fstat(f.fd_, &st) != 0) IoFail("Opening the file", path);
  if (!S_ISREG(st.st_mode)) {
    Fail(DBE_FILE_NOT_FOUND, "Error 5041: The path is not a table file. File: " + path);
  }
  f.known_identity_ = true;
  f.dev_ = static_cast<uint64_t>(st.st_dev);
  f.ino_ = static_cast<uint64_t>(st.st_ino);
  return f;
}

File File::Create(const std::string& path) {
  File f;
  f.path_ = path;
  f.fd_ = Calls().open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int e = errno;
  kx8::platform::FolderChanged(path);
  errno = e;
  if (f.fd_ < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      Fail(DBE_FILE_NOT_FOUND, "Error 5041: The folder of the file was not found. File: " + path);
    }
    IoFail("Creating the file", path);
  }
  f.writable_ = true;
  return f;
}

uint64_t File::Size() const {
  struct stat st;
  if (Calls().fstat(fd_, &st) != 0) IoFail("Reading the file size", path_);
  return static_cast<uint64_t>(st.st_size);
}

void File::ReadAt(uint64_t offset, void* buf, size_t len) const {
  auto* p = static_cast<uint8_t*>(buf);
  while (len > 0) {
    ssize_t n = Calls().pread(fd_, p, len, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      IoFail("Reading", path_);
    }
    if (n == 0) {
      Fail(DBE_DAMAGED_FILE, "Error 5052: The file is damaged (it ends too early). File: " + path_);
    }
    p += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

void File::WriteAt(uint64_t offset, const void* buf, size_t len) {
  if (!writable_) Fail(DBE_READ_ONLY, "Error 5063: The file may not be written. File: " + path_);
  const auto* p = static_cast<const uint8_t*>(buf);
  while (len > 0) {
    ssize_t n = Calls().pwrite(fd_, p, len, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      IoFail("Writing", path_);
    }
    p += n;
    len -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
}

void File::Truncate(uint64_t size) {
  if (Calls().ftruncate(fd_, static_cast<off_t>(size)) != 0) IoFail("Resizing", path_);
}

void File::Sync() {
  if (DeferSyncOf(path_)) return;
  if (Calls().fdatasync(fd_) != 0) IoFail("Flushing", path_);
}

void File::StartWriteback(uint64_t offset, uint64_t len) {
  Calls().start_writeback(fd_, off_t(offset), off_t(len));
}

void File::Close() {
  // A failed close loses nothing that a flush had not already reported.
  if (fd_ >= 0) Calls().close(fd_);
  fd_ = -1;
  known_identity_ = false;
}

void File::Identity(uint64_t* dev, uint64_t* ino) const {
  if (known_identity_) {
    *dev = dev_;
    *ino = ino_;
    return;
  }
  struct stat st;
  if (Calls().fstat(fd_, &st) != 0) IoFail("Reading the file identity", path_);
  *dev = static_cast<uint64_t>(st.st_dev);
  *ino = static_cast<uint64_t>(st.st_ino);
}

namespace {
struct flock MakeLock(short type, uint64_t offset) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  return fl;
}
}  // namespace

bool File::TryLock(uint64_t offset, bool exclusive) {
  struct flock fl = MakeLock(exclusive ? F_WRLCK : F_RDLCK, offset);
  if (Calls().lock(fd_, F_OFD_SETLK, &fl) == 0) return true;
  if (errno == EAGAIN || errno == EACCES) return false;
  IoFail("Locking", path_);
}

void File::LockWait(uint64_t offset, bool exclusive, const std::string& what) {
  // The system's blocking lock would wait forever for a program that never
  // lets go; polling with a growing pause keeps the wait bounded.
  const auto limit = LockWaitLimit();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  auto pause = std::chrono::milliseconds(1);
  while (!TryLock(offset, exclusive)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      Fail(DBE_TABLE_IN_USE, "Error 5042: " + what + " is locked by another program; waited " +
                                 std::to_string(limit.count()) + " ms. File: " + path_);
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

void File::Unlock(uint64_t offset) {
  // Unlocking a range this descriptor holds cannot fail; closing the file
  // drops the lock anyway.
  struct flock fl = MakeLock(F_UNLCK, offset);
  Calls().lock(fd_, F_OFD_SETLK, &fl);
}

Mapping::~Mapping() { Unmap(); }

void Mapping::Map(const File& file, uint64_t size) {
  Unmap();
  if (size == 0) return;
  int prot = PROT_READ | (file.writable() ? PROT_WRITE : 0);
  void* p = Calls().mmap(nullptr, size, prot, MAP_SHARED, file.fd(), 0);
  if (p == MAP_FAILED) IoFail("Mapping", file.path());
  data_ = static_cast<uint8_t*>(p);
  size_ = size;
}

Mapping::Range Mapping::Release() {
  const Range range{data_, size_};
  data_ = nullptr;
  size_ = 0;
  return range;
}

void UnmapInBackground(Mapping::Range range) {
  if (range.data == nullptr) return;
  constexpr uint64_t kLarge = 16u << 20;
  if (range.size >= kLarge) {
    try {
      std::thread([range] { ::munmap(range.data, range.size); }).detach();
      return;
    } catch (const std::system_error&) {
      // No thread to be had: unmapped here.
    }
  }
  ::munmap(range.data, range.size);
}

void Mapping::Unmap() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

bool PathExists(const std::string& path) {
  struct stat st;
  if (Calls().stat(path.c_str(), &st) == 0) return true;
  // Any other answer than "not there" must not pass for one: recovery and
  // clean-up decide on it.
  if (errno == ENOENT || errno == ENOTDIR) return false;
  IoFail("Looking for the file", path);
}

bool PathIdentity(const std::string& path, uint64_t* dev, uint64_t* ino) {
  struct stat st;
  if (Calls().stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return false;
    IoFail("Looking for the file", path);
  }
  *dev = static_cast<uint64_t>(st.st_dev);
  *ino = static_cast<uint64_t>(st.st_ino);
  return true;
}

void RemoveFile(const std::string& path) {
  const int rc = Calls().unlink(path.c_str());
  const int e = errno;
  kx8::platform::FolderChanged(path);
  errno = e;
  if (rc != 0 && errno != ENOENT) IoFail("Deleting", path);
}

void RenameFile(const std::string& from, const std::string& to) {
  const int rc = Calls().rename(from.c_str(), to.c_str());
  const int e = errno;
  kx8::platform::FolderChanged(from);
  kx8::platform::FolderChanged(to);
  errno = e;
  if (rc != 0) IoFail("Renaming to " + to, from);
}

void LinkOrCopy(const std::string& from, const std::string& to) {
  const int rc = Calls().link(from.c_str(), to.c_str());
  kx8::platform::FolderChanged(to);
  if (rc == 0) return;
  std::string bytes = ReadWholeFile(from);
  File f = File::Create(to);
  f.WriteAt(0, bytes.data(), bytes.size());
  f.Sync();
}

void SyncParentDir(const std::string& path) {
  std::string dir = ".";
  auto slash = path.find_last_of('/');
  if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
  if (DeferSyncOfFolder(dir)) return;
  // A rename is only durable once its folder is flushed: a failure here is
  // as much an error as a failed write.
  int fd = Calls().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) IoFail("Opening the folder to flush it", dir);
  int rc = Calls().fsync(fd);
  int e = errno;
  Calls().close(fd);
  errno = e;
  if (rc != 0) IoFail("Flushing the folder", dir);
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  std::string tmp = path + ".tmp";
  try {
    File f = File::Create(tmp);
    f.WriteAt(0, bytes.data(), bytes.size());
    f.Sync();
    f.Close();
    RenameFile(tmp, path);
  } catch (const Error&) {
    // The file keeps its old contents; the half-written temporary goes.
    // Should even that fail, the next write truncates it: the failure that
    // matters is the one raised.
    Calls().unlink(tmp.c_str());
    kx8::platform::FolderChanged(tmp);
    throw;
  }
  SyncParentDir(path);
}

std::string ReadWholeFile(const std::string& path) {
  File f = File::OpenExisting(path);
  uint64_t size = f.Size();
  std::string out(size, '\0');
  if (size > 0) f.ReadAt(0, out.data(), size);
  return out;
}

namespace {
std::chrono::milliseconds g_lock_wait{-1};

std::chrono::milliseconds DefaultLockWait() {
  // Tests shorten the wait through the environment.
  if (const char* v = std::getenv("KX8_LOCK_WAIT_MS"); v != nullptr && *v != '\0') {
    char* end = nullptr;
    long ms = std::strtol(v, &end, 10);
    if (end != nullptr && *end == '\0' && ms >= 0) return std::chrono::milliseconds(ms);
  }
  return kDefaultLockWait;
}
}  // namespace

void SetLockWaitLimit(std::chrono::milliseconds limit) { g_lock_wait = limit; }

std::chrono::milliseconds LockWaitLimit() {
  if (g_lock_wait.count() < 0) g_lock_wait = DefaultLockWait();
  return g_lock_wait;
}

}  // namespace dbe::os
