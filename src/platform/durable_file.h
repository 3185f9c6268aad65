// Small files that must survive a crash whole: written to a temporary name
// beside the target, flushed, renamed over it, and the folder flushed, so
// that after a crash the file holds either its old text or its new one.
// And exclusive locks on a folder, held by one process at a time.
//
// Paths are Windows paths as the program builds them (platform/path.h).
#ifndef KX8_PLATFORM_DURABLE_FILE_H_
#define KX8_PLATFORM_DURABLE_FILE_H_

#include <optional>
#include <string>
#include <string_view>

namespace kx8::platform {

// Replaces the file's content atomically and durably. Raises
// std::runtime_error naming the file when any step fails; the old content
// is then left as it was.
void WriteFileDurably(std::string_view path, const std::string& content);

// The whole content of a file; nullopt when there is no such file. Raises
// when the file exists but cannot be read.
std::optional<std::string> ReadWholeFile(std::string_view path);

// Deletes the file and flushes its folder, so that the deletion survives a
// crash. No error when there is no such file; raises when it cannot go.
void DeleteFileDurably(std::string_view path);

// As WriteFileDurably and DeleteFileDurably without their flushes, for a
// caller whose cover against a power cut lies elsewhere (an upgrade pass
// with a checked archive and a marker, whose grouped flush comes later):
// still atomic against a killed process, and ordered with the writes that
// follow (the page cache keeps every write), but a power cut before the
// caller's flush may lose them.
void WriteFileUnflushed(std::string_view path, const std::string& content);
void DeleteFileUnflushed(std::string_view path);

// An exclusive lock held through an open lock file (the operating system's
// file lock: it ends with the process, also when the process is killed, so
// a stale lock never blocks a later run).
class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock() { Release(); }

  // Takes the lock on lock_file (created when missing) without waiting.
  // False when another holder has it; raises when the file cannot be made.
  bool TryAcquire(std::string_view lock_file);
  // Takes over a lock that the process which started this one holds and
  // passed down as the open descriptor fd. False, leaving fd alone, when fd
  // is not an open descriptor of lock_file or does not hold its lock.
  bool Adopt(int fd, std::string_view lock_file);
  void Release();
  bool Held() const { return fd_ >= 0; }
  // The open lock file, for passing the lock down to a process this one
  // starts (see Adopt); -1 when not held.
  int Descriptor() const { return fd_; }

 private:
  int fd_ = -1;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_DURABLE_FILE_H_
