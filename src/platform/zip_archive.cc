#include "platform/zip_archive.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/file_system.h"
#include "platform/locale_info.h"
#include "platform/path.h"
#include "platform/zip_deflated_source.h"

namespace kx8::platform {
namespace {

constexpr std::size_t kBufferSize = 64 * 1024;
// A file up to this size is deflated ahead on a worker, its whole stream
// held in memory until it is written; a larger one is deflated by libzip as
// it writes it, so that memory stays small whatever the size of a table.
constexpr std::uint64_t kDeflatedAheadMax = 4 << 20;
// Temporary files are made beside their target under this prefix; the
// company folder clean-up removes any left behind (their names hold ".~").
constexpr char kTemporaryPrefix[] = ".~kx8-XXXXXX";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string SystemError(int error) { return std::strerror(error); }

std::string LibzipError(zip_error_t* error) { return zip_error_strerror(error); }

std::string LibzipError(zip_t* archive) { return LibzipError(zip_get_error(archive)); }

std::string LibzipOpenError(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

struct ArchiveDiscard {
  void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscard>;

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // 0, or the errno of a failed close.
  int Close() {
    int error = 0;
    if (fd_ >= 0 && ::close(fd_) != 0) error = errno;
    fd_ = -1;
    return error;
  }

 private:
  int fd_;
};

// A temporary file removed at the end of the scope unless kept.
class TemporaryFile {
 public:
  TemporaryFile() = default;
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  // Creates the file in `native_folder` ("" is the working folder); returns
  // its descriptor, or -1 with errno set.
  int Create(const std::string& native_folder) {
    std::string pattern = native_folder;
    if (!pattern.empty() && pattern.back() != '/') pattern += '/';
    pattern += kTemporaryPrefix;
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd >= 0) path_ = pattern;
    return fd;
  }
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

// The mode of a new file: what the process's umask allows of rw-rw-rw-.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The folder of a native path, "" for a bare name.
std::string NativeFolder(const std::string& native_path) { return ParentFolder(native_path); }

void SyncFolder(const std::string& native_folder) {
  const int fd = ::open(native_folder.empty() ? "." : native_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

bool SyncFile(const std::string& native_path) {
  FileDescriptor fd(::open(native_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  return ::fsync(fd.get()) == 0 && fd.Close() == 0;
}

bool NameTaken(const std::string& native_path) {
  struct stat info {};
  return ::lstat(native_path.c_str(), &info) == 0;
}

// Gives `temporary` the name `target` unless that name is taken. 0, EEXIST
// when it is taken, or another errno.
int RenameNoReplace(const std::string& temporary, const std::string& target) {
  if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
  // A file system without the no-replace rename: a hard link fails on an
  // existing name just the same.
  if (::link(temporary.c_str(), target.c_str()) == 0) {
    ::unlink(temporary.c_str());
    return 0;
  }
  if (errno == EEXIST) return EEXIST;
  if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP) return errno;
  // Neither: the plain rename, after a last look at the name.
  if (NameTaken(target)) return EEXIST;
  return ::rename(temporary.c_str(), target.c_str()) == 0 ? 0 : errno;
}

// --- masks -------------------------------------------------------------------

// The folder part of a mask, as FindEntries reads it ("c:*.kdt" has the
// drive as its folder).
std::string_view MaskFolder(std::string_view mask) {
  std::size_t split = mask.size();
  while (split > 0 && !IsSeparator(mask[split - 1])) --split;
  if (split == 0 && mask.size() >= 2 && IsAsciiLetter(mask[0]) && mask[1] == ':') split = 2;
  return mask.substr(0, split);
}

std::string_view MaskPattern(std::string_view mask) { return mask.substr(MaskFolder(mask).size()); }

// The last component of an entry name, a trailing separator ignored.
std::string_view LastComponent(std::string_view name) {
  std::size_t end = name.size();
  while (end > 0 && IsSeparator(name[end - 1])) --end;
  std::size_t begin = end;
  while (begin > 0 && !IsSeparator(name[begin - 1])) --begin;
  return name.substr(begin, end - begin);
}

bool IsDirectoryEntry(std::string_view name) { return !name.empty() && IsSeparator(name.back()); }

// Why an entry must not be written below the extraction folder; "" when it
// may.
std::string UnsafeEntryReason(std::string_view name) {
  if (name.empty()) return "has no name";
  if (IsSeparator(name.front())) return "is an absolute path";
  if (name.size() >= 2 && IsAsciiLetter(name[0]) && name[1] == ':') return "carries a drive letter";
  // Names are UTF-8 here (libzip converts the others), so the C1 controls
  // U+0080 to U+009F are the bytes C2 80 to C2 9F.
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    const bool c1 = c == 0xC2 && i + 1 < name.size() && static_cast<unsigned char>(name[i + 1]) <= 0x9F;
    if (c < 0x20 || c == 0x7F || c1) return "holds a control character";
  }
  std::size_t begin = 0;
  while (begin <= name.size()) {
    std::size_t end = begin;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    if (name.substr(begin, end - begin) == "..") return "climbs out of the folder with \"..\"";
    begin = end + 1;
  }
  return {};
}

void RequireSafeEntry(std::string_view name, const std::string& archive) {
  const std::string reason = UnsafeEntryReason(name);
  if (reason.empty()) return;
  throw EZipError("The entry \"" + std::string(name) + "\" of the archive " + archive + " " + reason +
                  "; nothing was extracted");
}

// --- digests -----------------------------------------------------------------

struct Digest {
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

std::string DigestText(const Digest& d) {
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(d.crc));
  return std::to_string(d.size) + " bytes, CRC " + crc;
}

bool operator==(const Digest& a, const Digest& b) { return a.size == b.size && a.crc == b.crc; }

// Size and CRC-32 of a file's content.
bool FileDigest(const std::string& native, Digest& digest, std::string& error) {
  FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    error = "cannot read " + native + ": " + SystemError(errno);
    return false;
  }
  std::vector<unsigned char> buffer(kBufferSize);
  uLong crc = ::crc32(0L, Z_NULL, 0);
  digest = {};
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      error = "cannot read " + native + ": " + SystemError(errno);
      return false;
    }
    if (n == 0) break;
    crc = ::crc32(crc, buffer.data(), static_cast<uInt>(n));
    digest.size += static_cast<std::uint64_t>(n);
  }
  digest.crc = static_cast<std::uint32_t>(crc);
  return true;
}

// Reads an entry's data through, handing each piece to `sink`, and gives
// its size and CRC-32. libzip checks the stored CRC at the end of the data.
template <typename Sink>
bool ReadEntry(zip_t* archive, zip_uint64_t index, Digest& digest, std::string& error, Sink&& sink) {
  zip_file_t* file = zip_fopen_index(archive, index, 0);
  if (file == nullptr) {
    error = LibzipError(archive);
    return false;
  }
  std::vector<unsigned char> buffer(kBufferSize);
  uLong crc = ::crc32(0L, Z_NULL, 0);
  digest = {};
  bool ok = true;
  for (;;) {
    const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
    if (n < 0) {
      error = LibzipError(zip_file_get_error(file));
      ok = false;
      break;
    }
    if (n == 0) break;
    crc = ::crc32(crc, buffer.data(), static_cast<uInt>(n));
    digest.size += static_cast<std::uint64_t>(n);
    if (!sink(buffer.data(), static_cast<std::size_t>(n))) {
      ok = false;
      break;
    }
  }
  const int close_error = zip_fclose(file);
  if (ok && close_error != 0) {
    error = LibzipOpenError(close_error);
    ok = false;
  }
  digest.crc = static_cast<std::uint32_t>(crc);
  return ok;
}

bool EntryDigest(zip_t* archive, zip_uint64_t index, Digest& digest, std::string& error) {
  return ReadEntry(archive, index, digest, error, [](const unsigned char*, std::size_t) { return true; });
}

// zlib allocates about 256 KB for each entry it compresses (and 32 KB for
// each it reads back) and frees it at the entry's end. By default glibc
// hands the freed top of the heap back to the system each time, so every
// entry of a company folder of hundreds of small files faulted the same
// pages in again, which cost as much as the compression itself. Keeping up
// to 64 MB of freed memory, and taking blocks below 16 MB from the heap,
// lets each entry reuse the last one's pages. The setting is the process's;
// it changes how soon freed memory is returned, never what is allocated.
void KeepFreedMemoryForReuse() {
  static std::once_flag once;
  std::call_once(once, [] {
    // Either call failing leaves glibc's defaults, which are only slower.
    (void)::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    (void)::mallopt(M_MMAP_THRESHOLD, 16 << 20);
  });
}

struct SelectedEntry {
  zip_uint64_t index;
  std::string name;
};

// The entries of `archive` that Extract takes for `masks`, in their stored
// order; EZipError for an unsafe name among them.
std::vector<SelectedEntry> SelectEntries(zip_t* archive, const std::vector<std::string>& masks,
                                         const std::string& shown) {
  std::vector<SelectedEntry> selected;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* raw = zip_get_name(archive, static_cast<zip_uint64_t>(i), 0);
    const std::string name = raw == nullptr ? std::string() : std::string(raw);
    bool wanted = masks.empty();
    for (const std::string& mask : masks) {
      if (MatchesMask(LastComponent(name), MaskPattern(mask))) {
        wanted = true;
        break;
      }
    }
    if (!wanted) continue;
    RequireSafeEntry(name, shown);
    selected.push_back({static_cast<zip_uint64_t>(i), name});
  }
  return selected;
}

// True when entry `index` reads back as exactly the bytes of the file at
// `native` (an entry or file that cannot be read is not the same).
bool EntryHoldsFile(zip_t* archive, zip_uint64_t index, const std::string& native) {
  zip_stat_t stat;
  zip_stat_init(&stat);
  struct stat info {};
  if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE) ||
      ::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) != stat.size) {
    return false;
  }
  FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) return false;
  std::vector<unsigned char> file(kBufferSize);
  std::uint64_t compared = 0;
  Digest digest;
  std::string error;
  const bool read = ReadEntry(archive, index, digest, error, [&](const unsigned char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::read(fd.get(), file.data(), std::min(size, file.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0 || std::memcmp(file.data(), data, static_cast<std::size_t>(n)) != 0) return false;
      data += n;
      size -= static_cast<std::size_t>(n);
      compared += static_cast<std::uint64_t>(n);
    }
    return true;
  });
  return read && compared == stat.size;
}

// --- sources -----------------------------------------------------------------

struct SourceFile {
  std::string entry_name;  // the file's name in its folder
  std::string native;      // resolved path
  Digest digest;
  std::uint64_t size = 0;  // as found
};

// The files the masks find, each once. False when two different files
// would get the same entry name.
bool CollectSources(const std::vector<std::string>& masks, std::vector<SourceFile>& files, std::string& error) {
  std::set<std::string> seen;
  std::map<std::string, std::string> names;  // entry name -> file
  for (const std::string& mask : masks) {
    const std::string_view folder = MaskFolder(mask);
    std::string native_folder = ResolvePath(folder.empty() ? std::string_view(".") : folder);
    if (native_folder.back() != '/') native_folder += '/';
    for (const FoundEntry& entry : FindEntries(mask, FindAttr::Files)) {
      if (!entry.is_regular) continue;
      const std::string native = native_folder + entry.name;
      if (!seen.insert(native).second) continue;
      const auto [it, added] = names.emplace(entry.name, native);
      if (!added) {
        error = "two files would be stored as " + entry.name + ": " + it->second + " and " + native;
        return false;
      }
      files.push_back({entry.name, native, {}, entry.size});
    }
  }
  return true;
}

// Compares the archive at `native_archive` with the sources, whose digests
// are filled in. `shown` is the archive's name for the messages.
TZipResult CompareWithSources(const std::string& native_archive, const std::string& shown,
                              const std::vector<SourceFile>& files, std::string& error) {
  int open_error = 0;
  ArchivePtr archive(zip_open(native_archive.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &open_error));
  if (!archive) {
    error = "cannot read the archive " + shown + " back: " + LibzipOpenError(open_error);
    return TZipResult::CheckFailed;
  }
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  if (count != static_cast<zip_int64_t>(files.size())) {
    error = "the archive " + shown + " holds " + std::to_string(count) + " entries instead of " +
            std::to_string(files.size());
    return TZipResult::CheckFailed;
  }
  for (const SourceFile& file : files) {
    const zip_int64_t index = zip_name_locate(archive.get(), file.entry_name.c_str(), 0);
    if (index < 0) {
      error = "the archive " + shown + " does not hold " + file.entry_name;
      return TZipResult::CheckFailed;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(index), 0, &stat) != 0) {
      error =
          "cannot read the entry " + file.entry_name + " of the archive " + shown + ": " + LibzipError(archive.get());
      return TZipResult::CheckFailed;
    }
    Digest stored;
    stored.size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : ~std::uint64_t{0};
    stored.crc = (stat.valid & ZIP_STAT_CRC) ? stat.crc : ~file.digest.crc;
    Digest read;
    std::string read_error;
    if (!EntryDigest(archive.get(), static_cast<zip_uint64_t>(index), read, read_error)) {
      error = "the entry " + file.entry_name + " of the archive " + shown + " does not read back: " + read_error;
      return TZipResult::CheckFailed;
    }
    if (!(stored == file.digest) || !(read == file.digest)) {
      error = "the entry " + file.entry_name + " of the archive " + shown + " (" + DigestText(read) +
              ") does not match " + file.native + " (" + DigestText(file.digest) + ")";
      return TZipResult::CheckFailed;
    }
  }
  return TZipResult::Ok;
}

}  // namespace

std::string_view ZipResultName(TZipResult result) {
  switch (result) {
    case TZipResult::Ok:
      return "ok";
    case TZipResult::NoFiles:
      return "no files";
    case TZipResult::ArchiveNotFound:
      return "archive not found";
    case TZipResult::ArchiveExists:
      return "archive exists";
    case TZipResult::ReadFailed:
      return "read failed";
    case TZipResult::WriteFailed:
      return "write failed";
    case TZipResult::CheckFailed:
      return "check failed";
  }
  return "unknown";
}

void TZipArchive::SetFilesToProcess(std::string_view text) {
  files_to_process_.clear();
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t end = text.find('\n', begin);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(begin, end - begin);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) files_to_process_.emplace_back(line);
    begin = end + 1;
  }
}

void TZipArchive::AddMask(std::string mask) { files_to_process_.push_back(std::move(mask)); }

TZipResult TZipArchive::Fail(TZipResult result, std::string text) {
  last_error_ = std::move(text);
  return result;
}

TZipResult TZipArchive::Compress() {
  last_error_.clear();
  KeepFreedMemoryForReuse();
  const std::string& shown = zip_filename_;
  std::vector<SourceFile> files;
  std::string error;
  if (!CollectSources(files_to_process_, files, error)) {
    return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + error);
  }
  if (files.empty()) {
    return Fail(TZipResult::NoFiles, "no file matches the masks; the archive " + shown + " was not written");
  }
  if (zip_filename_.empty()) return Fail(TZipResult::WriteFailed, "the archive has no name");
  const std::string target = ResolvePath(zip_filename_);
  if (NameTaken(target)) return Fail(TZipResult::ArchiveExists, "the archive " + shown + " exists already");

  // A file that cannot be read is named before anything is written (the
  // workers below report any later failure to read just the same).
  for (const SourceFile& file : files) {
    if (::faccessat(AT_FDCWD, file.native.c_str(), R_OK, AT_EACCESS) != 0) {
      return Fail(TZipResult::ReadFailed,
                  "cannot write the archive " + shown + ": cannot read " + file.native + ": " + SystemError(errno));
    }
  }

  // The files deflated ahead are read once, by the workers, which start
  // now: the entry's size and CRC-32 are those of the bytes deflated. A
  // larger file is read before the archive is written, so that a change
  // while it is archived shows up in the check.
  constexpr std::size_t kByLibzip = ~std::size_t{0};
  std::vector<std::size_t> ahead(files.size(), kByLibzip);  // index among the deflated files
  std::vector<DeflatedFiles::File> natives;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i].size > kDeflatedAheadMax) continue;
    ahead[i] = natives.size();
    natives.push_back({files[i].native, files[i].size});
  }
  DeflatedFiles deflated(std::move(natives), kCompressionLevel);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (ahead[i] == kByLibzip && !FileDigest(files[i].native, files[i].digest, error)) {
      return Fail(TZipResult::ReadFailed, "cannot write the archive " + shown + ": " + error);
    }
  }

  const std::string folder = NativeFolder(target);
  TemporaryFile temporary;
  {
    FileDescriptor fd(temporary.Create(folder));
    if (fd.get() < 0) {
      return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + SystemError(errno));
    }
  }
  int open_error = 0;
  ArchivePtr archive(zip_open(temporary.path().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &open_error));
  if (!archive) {
    return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + LibzipOpenError(open_error));
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    const SourceFile& file = files[i];
    zip_source_t* source = ahead[i] == kByLibzip ? zip_source_file(archive.get(), file.native.c_str(), 0, -1)
                                                 : deflated.Source(archive.get(), ahead[i]);
    if (source == nullptr) {
      return Fail(TZipResult::ReadFailed, "cannot write the archive " + shown + ": cannot read " + file.native + ": " +
                                              LibzipError(archive.get()));
    }
    const zip_int64_t index = zip_file_add(archive.get(), file.entry_name.c_str(), source, ZIP_FL_ENC_GUESS);
    if (index < 0) {
      zip_source_free(source);
      return Fail(TZipResult::WriteFailed,
                  "cannot add " + file.native + " to the archive " + shown + ": " + LibzipError(archive.get()));
    }
    if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, kCompressionLevel) !=
        0) {
      return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": cannot compress " + file.native +
                                               ": " + LibzipError(archive.get()));
    }
  }
  if (zip_close(archive.get()) != 0) {
    if (const std::string read_error = deflated.Error(); !read_error.empty()) {
      return Fail(TZipResult::ReadFailed, "cannot write the archive " + shown + ": " + read_error);
    }
    return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + LibzipError(archive.get()));
  }
  archive.release();  // closed
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (ahead[i] == kByLibzip) continue;
    if (!deflated.FileDigest(ahead[i], files[i].digest.size, files[i].digest.crc)) {
      return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + files[i].native +
                                               " was not compressed");
    }
  }

  // libzip wrote a file of its own and renamed it over the temporary one.
  if (::chmod(temporary.path().c_str(), NewFileMode()) != 0 || !SyncFile(temporary.path())) {
    return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + SystemError(errno));
  }
  const TZipResult checked = CompareWithSources(temporary.path(), shown, files, error);
  if (checked != TZipResult::Ok) return Fail(checked, error);

  const int renamed = RenameNoReplace(temporary.path(), target);
  if (renamed == EEXIST) return Fail(TZipResult::ArchiveExists, "the archive " + shown + " exists already");
  if (renamed != 0) {
    return Fail(TZipResult::WriteFailed, "cannot write the archive " + shown + ": " + SystemError(renamed));
  }
  temporary.Keep();
  SyncFolder(folder);
  return TZipResult::Ok;
}

bool FileChecksum(std::string_view path, std::uint64_t& size, std::uint32_t& crc, std::string& error) {
  Digest digest;
  if (!FileDigest(ResolvePath(path), digest, error)) return false;
  size = digest.size;
  crc = digest.crc;
  return true;
}

TZipResult TZipArchive::Check() {
  last_error_.clear();
  KeepFreedMemoryForReuse();
  const std::string native = ResolvePath(zip_filename_);
  if (zip_filename_.empty() || !FileExists(native)) {
    return Fail(TZipResult::ArchiveNotFound, "the archive " + zip_filename_ + " does not exist");
  }
  std::vector<SourceFile> files;
  std::string error;
  if (!CollectSources(files_to_process_, files, error)) return Fail(TZipResult::CheckFailed, error);
  for (SourceFile& file : files) {
    if (!FileDigest(file.native, file.digest, error)) return Fail(TZipResult::ReadFailed, error);
  }
  const TZipResult result = CompareWithSources(native, zip_filename_, files, error);
  return result == TZipResult::Ok ? result : Fail(result, error);
}

std::vector<TZipEntry> TZipArchive::Entries() {
  last_error_.clear();
  std::vector<TZipEntry> entries;
  const std::string native = ResolvePath(zip_filename_);
  if (zip_filename_.empty() || !FileExists(native)) {
    Fail(TZipResult::ArchiveNotFound, "the archive " + zip_filename_ + " does not exist");
    return entries;
  }
  int open_error = 0;
  ArchivePtr archive(zip_open(native.c_str(), ZIP_RDONLY, &open_error));
  if (!archive) {
    Fail(TZipResult::ReadFailed, "cannot read the archive " + zip_filename_ + ": " + LibzipOpenError(open_error));
    return entries;
  }
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), static_cast<zip_uint64_t>(i), 0, &stat) != 0 || stat.name == nullptr) {
      Fail(TZipResult::ReadFailed, "cannot read the archive " + zip_filename_ + ": " + LibzipError(archive.get()));
      return {};
    }
    TZipEntry entry;
    entry.name = stat.name;
    entry.size = (stat.valid & ZIP_STAT_SIZE) ? stat.size : 0;
    entry.crc = (stat.valid & ZIP_STAT_CRC) ? stat.crc : 0;
    entry.modified = (stat.valid & ZIP_STAT_MTIME) ? LocalDateTime(stat.mtime, 0) : 0.0;
    entry.is_directory = IsDirectoryEntry(entry.name);
    entries.push_back(std::move(entry));
  }
  return entries;
}

TZipResult TZipArchive::TestArchive() {
  last_error_.clear();
  const std::string native = ResolvePath(zip_filename_);
  if (zip_filename_.empty() || !FileExists(native)) {
    return Fail(TZipResult::ArchiveNotFound, "the archive " + zip_filename_ + " does not exist");
  }
  int open_error = 0;
  ArchivePtr archive(zip_open(native.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &open_error));
  if (!archive) {
    return Fail(TZipResult::ReadFailed,
                "cannot read the archive " + zip_filename_ + ": " + LibzipOpenError(open_error));
  }
  const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
    RequireSafeEntry(name == nullptr ? "" : name, zip_filename_);
  }
  for (zip_int64_t i = 0; i < count; ++i) {
    const std::string name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
    Digest digest;
    std::string error;
    if (!EntryDigest(archive.get(), static_cast<zip_uint64_t>(i), digest, error)) {
      return Fail(TZipResult::ReadFailed,
                  "the entry " + name + " of the archive " + zip_filename_ + " does not read back: " + error);
    }
  }
  return TZipResult::Ok;
}

bool TZipArchive::SelectedEntriesHoldFiles(const std::function<std::string(const std::string&)>& target) {
  last_error_.clear();
  const std::string native = ResolvePath(zip_filename_);
  if (zip_filename_.empty() || !FileExists(native)) return false;
  int open_error = 0;
  ArchivePtr archive(zip_open(native.c_str(), ZIP_RDONLY, &open_error));
  if (!archive) return false;
  for (const SelectedEntry& entry : SelectEntries(archive.get(), files_to_process_, zip_filename_)) {
    if (IsDirectoryEntry(entry.name)) continue;
    const std::string file = target(entry.name);
    if (file.empty() || !EntryHoldsFile(archive.get(), entry.index, file)) return false;
  }
  return true;
}

TZipResult TZipArchive::Extract() {
  KeepFreedMemoryForReuse();
  last_error_.clear();
  const std::string& shown = zip_filename_;
  const std::string native = ResolvePath(zip_filename_);
  if (zip_filename_.empty() || !FileExists(native)) {
    return Fail(TZipResult::ArchiveNotFound, "the archive " + shown + " does not exist");
  }
  int open_error = 0;
  ArchivePtr archive(zip_open(native.c_str(), ZIP_RDONLY, &open_error));
  if (!archive) {
    return Fail(TZipResult::ReadFailed, "cannot read the archive " + shown + ": " + LibzipOpenError(open_error));
  }

  // The entries to extract, every name checked before anything is written.
  const std::vector<SelectedEntry> selected = SelectEntries(archive.get(), files_to_process_, shown);
  if (selected.empty()) {
    return Fail(TZipResult::NoFiles, "no entry of the archive " + shown + " matches the masks");
  }

  std::string folder = unzip_to_folder_;
  if (!folder.empty() && !ForceDirectories(folder)) {
    return Fail(TZipResult::WriteFailed, "cannot create the folder " + folder);
  }
  if (!folder.empty() && !IsSeparator(folder.back())) folder += '\\';

  const mode_t new_mode = NewFileMode();
  for (const SelectedEntry& entry : selected) {
    const std::string target_path = folder + entry.name;
    if (IsDirectoryEntry(entry.name)) {
      if (!ForceDirectories(target_path))
        return Fail(TZipResult::WriteFailed, "cannot create the folder " + target_path);
      continue;
    }
    const std::string target = ResolvePath(target_path);
    const std::string target_folder = NativeFolder(target);
    if (!target_folder.empty() && !ForceDirectories(target_folder)) {
      return Fail(TZipResult::WriteFailed, "cannot create the folder " + target_folder);
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), entry.index, 0, &stat) != 0) {
      return Fail(TZipResult::ReadFailed, "cannot read the entry " + entry.name + " of the archive " + shown + ": " +
                                              LibzipError(archive.get()));
    }

    TemporaryFile temporary;
    FileDescriptor fd(temporary.Create(target_folder));
    if (fd.get() < 0) return Fail(TZipResult::WriteFailed, "cannot write " + target + ": " + SystemError(errno));
    int write_error = 0;
    Digest digest;
    std::string read_error;
    // Never more than the entry says it holds: a damaged or hostile entry
    // must not fill the disk before its check fails.
    const std::uint64_t declared = (stat.valid & ZIP_STAT_SIZE) ? stat.size : UINT64_MAX;
    std::uint64_t written = 0;
    const bool read =
        ReadEntry(archive.get(), entry.index, digest, read_error, [&](const unsigned char* data, std::size_t size) {
          written += size;
          if (written > declared) {
            read_error = "it holds more than the " + std::to_string(declared) + " bytes it declares";
            return false;
          }
          while (size > 0) {
            const ssize_t n = ::write(fd.get(), data, size);
            if (n < 0) {
              if (errno == EINTR) continue;
              write_error = errno;
              return false;
            }
            data += n;
            size -= static_cast<std::size_t>(n);
          }
          return true;
        });
    if (write_error != 0)
      return Fail(TZipResult::WriteFailed, "cannot write " + target + ": " + SystemError(write_error));
    if (read && (stat.valid & ZIP_STAT_SIZE) && digest.size != stat.size) {
      read_error = "it holds " + std::to_string(digest.size) + " bytes instead of " + std::to_string(stat.size);
    }
    if (!read || !read_error.empty()) {
      return Fail(TZipResult::ReadFailed,
                  "cannot read the entry " + entry.name + " of the archive " + shown + ": " + read_error);
    }
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : new_mode;
    ::fchmod(fd.get(), mode);
    if (stat.valid & ZIP_STAT_MTIME) {
      const timespec times[2] = {{stat.mtime, 0}, {stat.mtime, 0}};
      ::futimens(fd.get(), times);
    }
    if (::fsync(fd.get()) != 0)
      return Fail(TZipResult::WriteFailed, "cannot write " + target + ": " + SystemError(errno));
    if (const int close_error = fd.Close(); close_error != 0) {
      return Fail(TZipResult::WriteFailed, "cannot write " + target + ": " + SystemError(close_error));
    }
    if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
      return Fail(TZipResult::WriteFailed, "cannot replace " + target + ": " + SystemError(errno));
    }
    temporary.Keep();
    SyncFolder(target_folder);
  }
  return TZipResult::Ok;
}

}  // namespace kx8::platform
