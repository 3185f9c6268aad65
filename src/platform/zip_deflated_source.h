// Files deflated ahead of the archive writer, on worker threads.
//
// libzip compresses the entries of an archive one after the other on the
// thread that closes it. Deflating is nearly all the cost of writing a
// backup, and the entries are independent, so the zip component deflates
// them here instead, on as many workers as there are cores (two at most),
// and hands libzip each entry's deflate stream through a source that says
// the data is already compressed. libzip then only copies the streams into
// the archive: the same deflate data, at the same level, as it would have
// written itself, with the same local and central headers.
//
// Each file is read once: the size and CRC-32 the entry records are those
// of the bytes that were deflated. Workers run ahead of the writer only
// while the files deflated and not yet written add up to a bounded size, so
// memory stays bounded on a large company; the writer deflates an entry
// itself when it gets there before any worker.
//
// Not for use by several threads: one writer thread calls Source, Error and
// FileDigest.
#ifndef KX8_PLATFORM_ZIP_DEFLATED_SOURCE_H_
#define KX8_PLATFORM_ZIP_DEFLATED_SOURCE_H_

#include <zip.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kx8::platform {

class DeflatedFiles {
 public:
  // A file to deflate: its resolved path, and its size as found, which
  // the workers count against the bytes they may hold.
  struct File {
    std::string native;
    std::uint64_t size = 0;
  };
  // Starts deflating `files` at `level`.
  DeflatedFiles(std::vector<File> files, int level);
  // Stops the workers (an entry being deflated is abandoned) and waits for
  // them.
  ~DeflatedFiles();
  DeflatedFiles(const DeflatedFiles&) = delete;
  DeflatedFiles& operator=(const DeflatedFiles&) = delete;

  // A libzip source giving file `index` as its deflate stream; nullptr,
  // with `archive`'s error set, when it cannot be made. The archive owns it
  // once it is added; before that, zip_source_free releases it.
  zip_source_t* Source(zip_t* archive, std::size_t index);

  // The first file that could not be read, as "cannot read <path>: <why>";
  // empty when none failed.
  std::string Error();

  // The size and CRC-32 of file `index` as it was deflated; false when it
  // has not been (or could not be) deflated.
  bool FileDigest(std::size_t index, std::uint64_t& size, std::uint32_t& crc);

 private:
  struct Entry;
  struct SourceState;
  static bool AwaitDeflated(SourceState& state);
  static zip_int64_t Callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command);

  void Work();
  // Deflates entry `index`, already claimed, and records the outcome.
  void Deflate(std::size_t index);
  // Waits until entry `index` is deflated, deflating it here when no worker
  // has claimed it. False when it could not be read.
  bool Await(std::size_t index);
  // The writer has copied entry `index`: its stream is dropped.
  void Release(std::size_t index);

  const int level_;
  std::vector<std::unique_ptr<Entry>> entries_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0;               // the first entry no one has claimed
  std::uint64_t pending_bytes_ = 0;    // file bytes claimed and not yet released
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_ZIP_DEFLATED_SOURCE_H_
