// Counts of the system calls a whole process makes, for the pass benchmark:
// flushes, opens and directory scans, counted by interposing the C library's
// functions in the benchmark program (every caller in the process goes
// through them: the engine, the platform layer, libzip).
#ifndef KX8_BENCH_SYSCALL_COUNTS_H_
#define KX8_BENCH_SYSCALL_COUNTS_H_

#include <cstdint>

namespace kx8::bench {

struct SyscallCounts {
  std::uint64_t syncs = 0;      // fsync, fdatasync, syncfs
  std::uint64_t opens = 0;      // open, openat (and their 64-bit names)
  std::uint64_t dir_scans = 0;  // opendir, fdopendir
  std::uint64_t renames = 0;
  std::uint64_t getpids = 0;
};

SyscallCounts CurrentSyscallCounts();
SyscallCounts operator-(const SyscallCounts& after, const SyscallCounts& before);

}  // namespace kx8::bench

#endif  // KX8_BENCH_SYSCALL_COUNTS_H_
