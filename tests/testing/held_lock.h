// Another program holding a byte-range lock: a child process takes a write
// lock on one byte of a file and keeps it until the object ends.
#ifndef KX8_TESTS_TESTING_HELD_LOCK_H_
#define KX8_TESTS_TESTING_HELD_LOCK_H_

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>

namespace kx8::testing {

class HeldLock {
 public:
  HeldLock(const std::string& path, uint64_t offset) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      int fd = ::open(path.c_str(), O_RDWR);
      struct flock fl;
      std::memset(&fl, 0, sizeof fl);
      fl.l_type = F_WRLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = static_cast<off_t>(offset);
      fl.l_len = 1;
      char ok = fd >= 0 && ::fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 'y' : 'n';
      if (::write(ready[1], &ok, 1) != 1) _exit(1);
      for (;;) ::pause();  // until the parent ends it
    }
    ::close(ready[1]);
    char ok = 'n';
    held_ = pid_ > 0 && ::read(ready[0], &ok, 1) == 1 && ok == 'y';
    ::close(ready[0]);
  }
  ~HeldLock() { Release(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

  bool held() const { return held_; }
  void Release() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    held_ = false;
  }

 private:
  pid_t pid_ = -1;
  bool held_ = false;
};

}  // namespace kx8::testing

#endif  // KX8_TESTS_TESTING_HELD_LOCK_H_
