// Thin wrapper over a POSIX file descriptor: positioned reads and writes,
// growth, memory mapping, durable replacement and the byte-range locks that
// keep processes apart. Every failure is a dbe::Error naming the file.
#ifndef KX8_ENGINE_OS_FILE_H_
#define KX8_ENGINE_OS_FILE_H_

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace dbe::os {

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;

  // Opens an existing file read-write, falling back to read-only when the
  // file may not be written. Missing file: DBE_FILE_NOT_FOUND.
  static File OpenExisting(const std::string& path);
  // Creates a new file (truncating a leftover of the same name).
  static File Create(const std::string& path);

  bool is_open() const { return fd_ >= 0; }
  bool writable() const { return writable_; }
  const std::string& path() const { return path_; }
  // The file was renamed to path: errors name it so from now on.
  void Renamed(const std::string& path) { path_ = path; }
  int fd() const { return fd_; }

  uint64_t Size() const;
  void ReadAt(uint64_t offset, void* buf, size_t len) const;     // short read: damaged file
  void WriteAt(uint64_t offset, const void* buf, size_t len);
  void Truncate(uint64_t size);
  void Sync();
  // Starts writing [offset, offset + len) to disk without waiting, so that
  // the Sync that follows has less to wait for. Promises nothing; a failure
  // to start is left for that Sync to report.
  void StartWriteback(uint64_t offset, uint64_t len);
  void Close();
  // Device and inode: identifies the file across differently spelt paths.
  void Identity(uint64_t* dev, uint64_t* ino) const;

  // Byte-range locks (open file description locks: they conflict between
  // descriptors, also within one process). TryLock returns false when
  // another holder conflicts; LockWait waits at most LockWaitLimit(), then
  // raises DBE_TABLE_IN_USE saying that `what` (e.g. "The table") is locked
  // and naming the file.
  bool TryLock(uint64_t offset, bool exclusive);
  void LockWait(uint64_t offset, bool exclusive, const std::string& what);
  void Unlock(uint64_t offset);

 private:
  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
  // Device and inode as seen when the file was opened (an open file keeps
  // them); known_identity_ is false for a file created here.
  bool known_identity_ = false;
  uint64_t dev_ = 0, ino_ = 0;
};

// A shared read-write (or read-only) mapping of a whole file.
class Mapping {
 public:
  Mapping() = default;
  ~Mapping();
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  void Map(const File& file, uint64_t size);   // size 0: unmapped
  void Unmap();
  uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

  // Gives the mapped range up without unmapping it; the caller passes it to
  // UnmapInBackground.
  struct Range {
    uint8_t* data = nullptr;
    uint64_t size = 0;
  };
  Range Release();

 private:
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
};

// Unmaps a range a Mapping gave up. A large one is unmapped by a thread of
// its own: tearing down the mapping of a table that was read whole, and
// freeing the cached pages of a replaced file whose last reference the
// mapping held, takes tens of milliseconds for a table of a few hundred
// megabytes, which the caller need not wait for. Nothing else uses the
// range meanwhile.
void UnmapInBackground(Mapping::Range range);

// How long a lock is waited for before the wait fails: the engine setting,
// else the environment's KX8_LOCK_WAIT_MS, else kDefaultLockWait.
constexpr std::chrono::milliseconds kDefaultLockWait{5000};
void SetLockWaitLimit(std::chrono::milliseconds limit);
std::chrono::milliseconds LockWaitLimit();

// False only when the path does not exist; any other failure raises.
bool PathExists(const std::string& path);
// The device and inode the path names now; false when it names nothing.
bool PathIdentity(const std::string& path, uint64_t* dev, uint64_t* ino);
void RemoveFile(const std::string& path);           // missing file is not an error
void RenameFile(const std::string& from, const std::string& to);
// Makes `to` a second name of `from` (a copy where links are not possible).
void LinkOrCopy(const std::string& from, const std::string& to);
// Flushes the folder of path, making renames and removals in it durable.
void SyncParentDir(const std::string& path);
// Writes a whole small file durably: temp file, flush, rename, folder flush.
// A failure before the rename leaves the file with its old contents.
void WriteFileAtomically(const std::string& path, const std::string& bytes);
std::string ReadWholeFile(const std::string& path);

}  // namespace dbe::os

#endif  // KX8_ENGINE_OS_FILE_H_
