#include "platform/zip_deflated_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace kx8::platform {
namespace {

constexpr std::size_t kReadSize = 64 * 1024;
// Workers stop claiming files while this many file bytes are deflated and
// not yet written (one file larger than this is still taken on its own).
constexpr std::uint64_t kPendingLimit = 16 << 20;
constexpr unsigned kMaxWorkers = 2;
// The deflate settings libzip uses for an entry of its own: a raw stream
// (no zlib header), the largest window and the most memory.
constexpr int kWindowBits = -MAX_WBITS;
constexpr int kMemoryLevel = MAX_MEM_LEVEL;

}  // namespace

struct DeflatedFiles::Entry {
  explicit Entry(File file) : native(std::move(file.native)), found_bytes(file.size) {}
  const std::string native;
  const std::uint64_t found_bytes;  // the file's size when it was found
  // Set under the mutex.
  bool claimed = false;
  bool done = false;
  std::uint64_t claimed_bytes = 0;  // found_bytes while counted as pending
  // Written by the one thread that deflates the entry, read after `done`.
  std::vector<unsigned char> stream;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  std::time_t mtime = 0;
  mode_t mode = 0;
  std::string error;  // "cannot read <path>: <why>" when it failed
  bool abandoned = false;  // stopped before it was done
};

// What libzip's source for one entry keeps between calls.
struct DeflatedFiles::SourceState {
  DeflatedFiles* owner;
  std::size_t index;
  std::size_t offset = 0;
  zip_error_t error;
};

DeflatedFiles::DeflatedFiles(std::vector<File> files, int level) : level_(level) {
  entries_.reserve(files.size());
  for (File& file : files) entries_.push_back(std::make_unique<Entry>(std::move(file)));
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t count = std::min<std::size_t>({kMaxWorkers, cores, entries_.size()});
  for (std::size_t i = 0; i < count; ++i) workers_.emplace_back([this] { Work(); });
}

DeflatedFiles::~DeflatedFiles() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void DeflatedFiles::Work() {
  for (;;) {
    std::size_t index = 0;
    {
      std::unique_lock lock(mutex_);
      // The writer claims files too; a worker waits while the files waiting
      // to be written would take too much memory.
      std::uint64_t bytes = 0;
      changed_.wait(lock, [&] {
        while (next_ < entries_.size() && entries_[next_]->claimed) ++next_;  // taken by the writer
        if (stopping_ || next_ >= entries_.size()) return true;
        bytes = entries_[next_]->found_bytes;
        return pending_bytes_ == 0 || pending_bytes_ + bytes <= kPendingLimit;
      });
      if (stopping_ || next_ >= entries_.size()) return;
      index = next_++;
      entries_[index]->claimed = true;
      entries_[index]->claimed_bytes = bytes;
      pending_bytes_ += bytes;
    }
    Deflate(index);
  }
}

void DeflatedFiles::Deflate(std::size_t index) {
  Entry& entry = *entries_[index];
  std::string error;
  bool abandoned = false;
  const auto fail = [&](int code) { error = "cannot read " + entry.native + ": " + std::strerror(code); };
  const int fd = ::open(entry.native.c_str(), O_RDONLY | O_CLOEXEC);
  z_stream zs{};
  bool begun = false;
  if (fd < 0) {
    fail(errno);
  } else if (struct stat info {}; ::fstat(fd, &info) != 0) {
    fail(errno);
  } else if (deflateInit2(&zs, level_, Z_DEFLATED, kWindowBits, kMemoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    error = "cannot compress " + entry.native + ": out of memory";
  } else {
    begun = true;
    entry.mtime = info.st_mtime;
    entry.mode = info.st_mode;
    std::vector<unsigned char> input(kReadSize);
    std::vector<unsigned char>& out = entry.stream;
    out.resize(std::max<std::size_t>(1024, deflateBound(&zs, static_cast<uLong>(std::min<off_t>(info.st_size, 1 << 20)))));
    uLong crc = ::crc32(0L, Z_NULL, 0);
    std::uint64_t size = 0;
    bool finished = false;
    while (!finished) {
      const ssize_t n = ::read(fd, input.data(), input.size());
      if (n < 0) {
        if (errno == EINTR) continue;
        fail(errno);
        break;
      }
      crc = ::crc32(crc, input.data(), static_cast<uInt>(n));
      size += static_cast<std::uint64_t>(n);
      zs.next_in = input.data();
      zs.avail_in = static_cast<uInt>(n);
      const int flush = n == 0 ? Z_FINISH : Z_NO_FLUSH;
      int result = Z_OK;
      do {
        if (zs.total_out == out.size()) out.resize(out.size() * 2);
        zs.next_out = out.data() + zs.total_out;
        zs.avail_out = static_cast<uInt>(std::min<std::size_t>(out.size() - zs.total_out, 1u << 30));
        result = deflate(&zs, flush);
      } while (result == Z_OK && (zs.avail_in > 0 || zs.avail_out == 0 || flush == Z_FINISH));
      if (result == Z_STREAM_END) finished = true;
      if (result == Z_STREAM_ERROR) {
        error = "cannot compress " + entry.native;
        break;
      }
      // A stop abandons the entry: nothing waits for it any more.
      if (std::lock_guard lock(mutex_); stopping_) {
        abandoned = true;
        break;
      }
    }
    out.resize(zs.total_out);
    entry.size = size;
    entry.crc = static_cast<std::uint32_t>(crc);
  }
  if (begun) deflateEnd(&zs);
  if (fd >= 0) ::close(fd);
  if (!error.empty() || abandoned) std::vector<unsigned char>().swap(entry.stream);
  {
    std::lock_guard lock(mutex_);
    entry.error = std::move(error);
    entry.abandoned = abandoned;
    entry.done = true;
  }
  changed_.notify_all();
}

bool DeflatedFiles::Await(std::size_t index) {
  Entry& entry = *entries_[index];
  std::unique_lock lock(mutex_);
  if (!entry.claimed) {
    // No worker got here first (the workers may be held back by the
    // memory bound): deflate it on this thread. Files before it that no
    // one claimed are left for the workers; they are claimed in order.
    if (next_ == index) ++next_;
    entry.claimed = true;
    lock.unlock();
    Deflate(index);
    lock.lock();
  }
  changed_.wait(lock, [&] { return entry.done; });
  return entry.error.empty() && !entry.abandoned;
}

void DeflatedFiles::Release(std::size_t index) {
  Entry& entry = *entries_[index];
  {
    std::lock_guard lock(mutex_);
    if (!entry.done) return;
    std::vector<unsigned char>().swap(entry.stream);
    pending_bytes_ -= entry.claimed_bytes;
    entry.claimed_bytes = 0;
  }
  changed_.notify_all();
}

std::string DeflatedFiles::Error() {
  std::lock_guard lock(mutex_);
  for (const auto& entry : entries_) {
    if (entry->done && !entry->error.empty()) return entry->error;
  }
  return {};
}

bool DeflatedFiles::FileDigest(std::size_t index, std::uint64_t& size, std::uint32_t& crc) {
  std::lock_guard lock(mutex_);
  const Entry& entry = *entries_[index];
  if (!entry.done || !entry.error.empty() || entry.abandoned) return false;
  size = entry.size;
  crc = entry.crc;
  return true;
}

zip_source_t* DeflatedFiles::Source(zip_t* archive, std::size_t index) {
  auto* state = new SourceState{this, index, 0, {}};
  zip_error_init(&state->error);
  zip_source_t* source = zip_source_function(archive, &DeflatedFiles::Callback, state);
  if (source == nullptr) {
    zip_error_fini(&state->error);
    delete state;
  }
  return source;
}

// Waits for the source's entry; false, with a read error for libzip, when
// its file could not be read (Error() then says why).
bool DeflatedFiles::AwaitDeflated(SourceState& state) {
  if (state.owner->Await(state.index)) return true;
  zip_error_set(&state.error, ZIP_ER_READ, 0);
  return false;
}

zip_int64_t DeflatedFiles::Callback(void* opaque, void* data, zip_uint64_t length, zip_source_cmd_t command) {
  auto* state = static_cast<SourceState*>(opaque);
  DeflatedFiles& owner = *state->owner;
  Entry& entry = *owner.entries_[state->index];
  switch (command) {
    case ZIP_SOURCE_OPEN:
      if (!AwaitDeflated(*state)) return -1;
      state->offset = 0;
      return 0;
    case ZIP_SOURCE_READ: {
      // Only the writer thread reads the stream, after Await.
      const std::size_t n = std::min<std::size_t>(length, entry.stream.size() - state->offset);
      std::memcpy(data, entry.stream.data() + state->offset, n);
      state->offset += n;
      return static_cast<zip_int64_t>(n);
    }
    case ZIP_SOURCE_CLOSE:
      owner.Release(state->index);
      return 0;
    case ZIP_SOURCE_STAT: {
      // Compressed data must come with its size and CRC, so the entry is
      // deflated before it is described.
      zip_stat_t* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &state->error);
      if (st == nullptr || !AwaitDeflated(*state)) return -1;
      zip_stat_init(st);
      st->valid = ZIP_STAT_SIZE | ZIP_STAT_CRC | ZIP_STAT_MTIME | ZIP_STAT_COMP_METHOD;
      st->size = entry.size;
      st->crc = entry.crc;
      st->mtime = entry.mtime;
      st->comp_method = ZIP_CM_DEFLATE;
      return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
      // What libzip records for a file it reads itself: the file's Unix
      // mode, the DOS read-only bit, and the deflate level in the flags.
      zip_file_attributes_t* attributes = ZIP_SOURCE_GET_ARGS(zip_file_attributes_t, data, length, &state->error);
      if (attributes == nullptr || !AwaitDeflated(*state)) return -1;
      zip_file_attributes_init(attributes);
      attributes->valid = ZIP_FILE_ATTRIBUTES_HOST_SYSTEM | ZIP_FILE_ATTRIBUTES_EXTERNAL_FILE_ATTRIBUTES |
                          ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS;
      attributes->host_system = ZIP_OPSYS_UNIX;
      attributes->external_file_attributes =
          (static_cast<zip_uint32_t>(entry.mode) << 16) | ((entry.mode & S_IWUSR) ? 0 : 1);
      const int level = owner.level_;
      attributes->general_purpose_bit_flags = level < 3 ? (2 << 1) : level > 7 ? (1 << 1) : 0;
      attributes->general_purpose_bit_mask = 0x0006;
      return sizeof(zip_file_attributes_t);
    }
    case ZIP_SOURCE_ERROR:
      return zip_error_to_data(&state->error, data, length);
    case ZIP_SOURCE_FREE:
      zip_error_fini(&state->error);
      delete state;
      return 0;
    case ZIP_SOURCE_SUPPORTS:
      return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                            ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SUPPORTS,
                                            ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
    default:
      zip_error_set(&state->error, ZIP_ER_OPNOTSUPP, 0);
      return -1;
  }
}

}  // namespace kx8::platform
