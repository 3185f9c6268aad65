#include "os/system_calls.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>

namespace dbe::os {
namespace {

// open and fcntl are variadic; the table holds fixed signatures.
int Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int Lock(int fd, int command, struct flock* range) { return ::fcntl(fd, command, range); }
int Stat(const char* path, struct stat* st) { return ::stat(path, st); }
int Fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int StartWriteback(int fd, off_t offset, off_t len) {
  return ::sync_file_range(fd, offset, len, SYNC_FILE_RANGE_WRITE);
}

const SystemCalls kReal = {Open,   ::close, ::pread, ::pwrite, ::fdatasync, ::fsync, ::ftruncate,
                           ::rename, ::unlink, ::link, Lock,    Fstat,      Stat,    ::mmap,
                           ::syncfs, StartWriteback};

}  // namespace

SystemCalls& Calls() {
  static SystemCalls calls = kReal;
  return calls;
}

const SystemCalls& RealCalls() { return kReal; }

}  // namespace dbe::os
