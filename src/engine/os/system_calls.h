// The system calls of the OS layer, reached through one table of function
// pointers so that a test can replace any of them: fail the Nth call with a
// chosen error, record the calls, or keep a shadow of what was flushed.
// Lighter than a virtual environment object: the engine has one concrete
// file class, and only tests ever change the table.
#ifndef KX8_ENGINE_OS_SYSTEM_CALLS_H_
#define KX8_ENGINE_OS_SYSTEM_CALLS_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>

namespace dbe::os {

struct SystemCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*pread)(int fd, void* buf, size_t len, off_t offset);
  ssize_t (*pwrite)(int fd, const void* buf, size_t len, off_t offset);
  int (*fdatasync)(int fd);  // a file's contents
  int (*fsync)(int fd);      // a folder's entries
  int (*ftruncate)(int fd, off_t size);
  int (*rename)(const char* from, const char* to);
  int (*unlink)(const char* path);
  int (*link)(const char* from, const char* to);
  int (*lock)(int fd, int command, struct flock* range);  // fcntl's byte-range lock commands
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  void* (*mmap)(void* addr, size_t len, int prot, int flags, int fd, off_t offset);
  int (*syncfs)(int fd);  // everything written on a file system (os/sync_group.h)
  // Starts writing a range of a file to disk and returns at once: makes a
  // later flush shorter, promises nothing about what is on disk.
  int (*start_writeback)(int fd, off_t offset, off_t len);
};

// The table in use. Changing it is for tests, done while no other thread
// uses the engine.
SystemCalls& Calls();
// The operating system's own calls, for a replacement to pass calls on to
// and to restore.
const SystemCalls& RealCalls();

}  // namespace dbe::os

#endif  // KX8_ENGINE_OS_SYSTEM_CALLS_H_
