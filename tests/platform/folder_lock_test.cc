// The lock on a root folder, and a process started by its holder taking it
// over through the descriptor it was given: only a descriptor that shares
// the holder's open lock file carries the lock.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "platform/durable_file.h"
#include "testing/temp_dir.h"

namespace kx8::platform {
namespace {

TEST(FolderLockTest, OnlyTheHoldersOwnOpenFileIsAdopted) {
  testing::TempDir dir("kx8-lock");
  const std::string lock_file = dir.File("root.lock");
  const std::string other_file = dir.File("other.lock");
  FolderLock holder;
  ASSERT_TRUE(holder.TryAcquire(lock_file));
  FolderLock other;
  ASSERT_TRUE(other.TryAcquire(other_file));

  struct Case {
    const char* what;
    std::function<int()> descriptor;
    bool adopted;
  };
  const Case cases[] = {
      {"the holder's open file, passed down", [&] { return ::fcntl(holder.Descriptor(), F_DUPFD_CLOEXEC, 0); }, true},
      {"the lock file opened again", [&] { return ::open(lock_file.c_str(), O_RDWR | O_CLOEXEC); }, false},
      {"another locked file", [&] { return ::fcntl(other.Descriptor(), F_DUPFD_CLOEXEC, 0); }, false},
      {"no open file", [] { return 999; }, false},
      {"none at all", [] { return -1; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int fd = c.descriptor();
    FolderLock taken;
    EXPECT_EQ(taken.Adopt(fd, lock_file), c.adopted);
    EXPECT_EQ(taken.Held(), c.adopted);
    // A refused descriptor is left to its owner.
    if (!c.adopted && fd >= 0 && fd != 999) {
      EXPECT_EQ(::close(fd), 0);
    }
  }
  // Adopted copies closed, the holder still holds the lock.
  FolderLock later;
  EXPECT_FALSE(later.TryAcquire(lock_file));
  holder.Release();
  EXPECT_TRUE(later.TryAcquire(lock_file));
}

}  // namespace
}  // namespace kx8::platform
