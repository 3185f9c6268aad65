#include "platform/staged_move.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/path.h"

namespace kx8::platform {
namespace {

constexpr char kStagingSuffix[] = ".~staging";
constexpr char kFileArea[] = "files";
constexpr char kRecord[] = "record";
constexpr char kRecordTemporary[] = "record.tmp";
constexpr char kRecordSignature[] = "KX8 STAGED MOVES 1";

std::function<void(std::size_t)>& MoveHook() {
  static std::function<void(std::size_t)> hook;
  return hook;
}

std::string SystemError(int error) { return std::strerror(error); }

std::string WithoutTrailingSeparator(std::string native) {
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  return native;
}

std::string NativeFolder(std::string_view folder) { return WithoutTrailingSeparator(ResolvePath(folder)); }

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

std::vector<std::string> Components(std::string_view relative) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (begin <= relative.size()) {
    std::size_t end = relative.find('/', begin);
    if (end == std::string_view::npos) end = relative.size();
    parts.emplace_back(relative.substr(begin, end - begin));
    begin = end + 1;
  }
  return parts;
}

// Why a relative name does not name a file below its folder; "" when it
// does. The names come from an archive or a record on disk, so they are
// checked before they are joined to a folder.
std::string BadRelativeName(std::string_view relative) {
  if (relative.empty() || relative.front() == '/') return "is not a name below the folder";
  for (char c : relative) {
    if (IsControl(c)) return "holds a control character";
  }
  for (const std::string& part : Components(relative)) {
    if (part.empty() || part == "." || part == "..") return "is not a name below the folder";
  }
  return {};
}

void SyncFolder(const std::string& native_folder) {
  const int fd = ::open(native_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

std::string RecordPath(const std::string& staging) { return staging + "/" + kRecord; }

void WriteRecord(const std::string& staging, const std::vector<StagedMove>& moves, const std::string& note) {
  std::string text = std::string(kRecordSignature) + "\nNOTE\t";
  for (char c : note) text += IsControl(c) ? '?' : c;
  text += "\n";
  for (const StagedMove& m : moves) text += "MOVE\t" + m.staged + "\t" + m.target + "\n";
  text += "END\n";

  const std::string temporary = staging + "/" + kRecordTemporary;
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) throw EStagedMoveError("Cannot write " + temporary + ": " + SystemError(errno) + "; nothing was moved");
  const char* data = text.data();
  std::size_t left = text.size();
  int error = 0;
  while (left > 0 && error == 0) {
    const ssize_t n = ::write(fd, data, left);
    if (n < 0) {
      if (errno != EINTR) error = errno;
      continue;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), RecordPath(staging).c_str()) != 0) error = errno;
  if (error != 0) {
    throw EStagedMoveError("Cannot write " + RecordPath(staging) + ": " + SystemError(error) + "; nothing was moved");
  }
  // The record must be on disk before the first rename it covers.
  SyncFolder(staging);
}

struct Record {
  std::string note;
  std::vector<StagedMove> moves;
};

Record ReadRecord(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  auto damaged = [&](const std::string& why) -> EStagedMoveError {
    return EStagedMoveError("The record " + path + " of an interrupted move cannot be used (" + why +
                            "); nothing was moved, and the files it lists are left in its folder");
  };
  if (!in) throw damaged(SystemError(errno));
  std::string line;
  if (!std::getline(in, line) || line != kRecordSignature) throw damaged("it has no signature");
  Record record;
  bool ended = false;
  while (std::getline(in, line)) {
    if (line == "END") {
      ended = true;
      break;
    }
    const std::size_t tab = line.find('\t');
    const std::string kind = line.substr(0, tab);
    const std::string rest = tab == std::string::npos ? std::string() : line.substr(tab + 1);
    if (kind == "NOTE") {
      record.note = rest;
    } else if (kind == "MOVE") {
      const std::size_t split = rest.find('\t');
      if (split == std::string::npos) throw damaged("a move has no target");
      StagedMove m{rest.substr(0, split), rest.substr(split + 1)};
      if (!BadRelativeName(m.staged).empty() || !BadRelativeName(m.target).empty()) {
        throw damaged("a move names a file outside its folder");
      }
      record.moves.push_back(std::move(m));
    } else {
      throw damaged("a line is not understood");
    }
  }
  if (!ended) throw damaged("it is cut short");
  return record;
}

// Holds an exclusive lock on the staging folder, or throws when another
// process holds it.
int LockStaging(const std::string& staging, const std::string& folder) {
  const int fd = ::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) throw EStagedMoveError("Cannot open the staging folder " + staging + ": " + SystemError(errno));
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (error == EWOULDBLOCK) {
      throw EStagedMoveError("Another process is moving files into " + folder + " (through " + staging +
                             "); try again when it has finished");
    }
    throw EStagedMoveError("Cannot lock the staging folder " + staging + ": " + SystemError(error));
  }
  return fd;
}

void RemoveStaging(const std::string& staging) {
  std::error_code ignored;
  std::filesystem::remove_all(staging, ignored);
  SyncFolder(WithoutTrailingSeparator(ParentFolder(staging)));
}

// Makes the folders above a target that are missing (none of the existing
// ones is a link: UnsafeTargetReason looked).
void MakeParents(const std::string& folder, const std::string& relative) {
  std::string path = folder;
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    throw EStagedMoveError("Cannot create the folder " + path + ": " + SystemError(errno));
  }
  const std::vector<std::string> parts = Components(relative);
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    path += "/" + parts[i];
    if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
      throw EStagedMoveError("Cannot create the folder " + path + ": " + SystemError(errno));
    }
  }
}

// Step 2: every move whose file is still staged. A file already gone from
// the staging area was moved before an interruption.
std::size_t DoMoves(const std::string& folder, const std::string& staging, const std::vector<StagedMove>& moves) {
  const std::string area = staging + "/" + kFileArea + "/";
  std::set<std::string> touched{folder};
  std::size_t moved = 0;
  for (const StagedMove& m : moves) {
    const std::string source = area + m.staged;
    const std::string target = folder + "/" + m.target;
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0) {
      if (errno == ENOENT) continue;
      throw EStagedMoveError("Cannot read " + source + ": " + SystemError(errno));
    }
    auto stopped = [&](const std::string& why) {
      return EStagedMoveError("Moving " + source + " to " + target + " failed: " + why + "; " +
                              std::to_string(moved) + " files were moved now, and the record " + RecordPath(staging) +
                              " stays so that the next start completes the move");
    };
    if (const std::string reason = UnsafeTargetReason(folder, m.target); !reason.empty()) throw stopped(reason);
    try {
      MakeParents(folder, m.target);
    } catch (const EStagedMoveError& e) {
      throw stopped(e.what());
    }
    if (MoveHook()) MoveHook()(moved);
    if (::rename(source.c_str(), target.c_str()) != 0) throw stopped(SystemError(errno));
    touched.insert(WithoutTrailingSeparator(ParentFolder(target)));
    ++moved;
  }
  for (const std::string& f : touched) SyncFolder(f);
  return moved;
}

}  // namespace

std::string StagingFolderOf(std::string_view folder) { return NativeFolder(folder) + kStagingSuffix; }

std::string UnsafeTargetReason(const std::string& folder, std::string_view relative) {
  if (const std::string bad = BadRelativeName(relative); !bad.empty()) {
    return "the name \"" + std::string(relative) + "\" " + bad;
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) return {};  // made when the files are moved
  if (S_ISLNK(info.st_mode)) return "the folder " + folder + " is a symbolic link";
  if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
  const std::vector<std::string> parts = Components(relative);
  std::string path = folder;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    path += "/" + parts[i];
    if (::lstat(path.c_str(), &info) != 0) return {};  // this and the rest are new
    if (S_ISLNK(info.st_mode)) return path + " is a symbolic link";
    const bool last = i + 1 == parts.size();
    if (last && !S_ISREG(info.st_mode)) return path + " is not a plain file";
    if (!last && !S_ISDIR(info.st_mode)) return path + " is not a folder";
  }
  return {};
}

std::uint64_t FreeBytes(std::string_view path) {
  std::string native = WithoutTrailingSeparator(ResolvePath(path));
  struct statvfs info {};
  while (::statvfs(native.c_str(), &info) != 0) {
    const std::string parent = WithoutTrailingSeparator(ParentFolder(native));
    if (parent.empty() || parent == native) return 0;
    native = parent;
  }
  return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

StagingArea::StagingArea(std::string_view folder)
    : folder_(NativeFolder(folder)), staging_(folder_ + kStagingSuffix) {
  std::error_code error;
  std::filesystem::create_directories(WithoutTrailingSeparator(ParentFolder(staging_)), error);
  if (::mkdir(staging_.c_str(), 0700) != 0) {
    if (errno == EEXIST) {
      throw EStagedMoveError("The staging folder " + staging_ + " exists: another process is moving files into " +
                             folder_ + ", or an interrupted one must be finished first");
    }
    throw EStagedMoveError("Cannot create the staging folder " + staging_ + ": " + SystemError(errno));
  }
  try {
    lock_fd_ = LockStaging(staging_, folder_);
  } catch (...) {
    RemoveStaging(staging_);
    throw;
  }
  const std::string area = staging_ + "/" + kFileArea;
  if (::mkdir(area.c_str(), 0700) != 0) {
    const int e = errno;
    RemoveStaging(staging_);
    ::close(lock_fd_);
    throw EStagedMoveError("Cannot create the staging folder " + area + ": " + SystemError(e));
  }
  file_area_ = area + "/";
}

StagingArea::~StagingArea() {
  // Without a commit nothing of the target folder was touched: the staged
  // files are dropped. After a failed commit the record is kept for
  // FinishStagedMoves.
  if (!committed_ && ::access(RecordPath(staging_).c_str(), F_OK) != 0) RemoveStaging(staging_);
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

void StagingArea::Commit(const std::vector<StagedMove>& moves, const std::string& note) {
  for (const StagedMove& m : moves) {
    if (const std::string bad = BadRelativeName(m.staged); !bad.empty()) {
      throw EStagedMoveError("The staged name \"" + m.staged + "\" " + bad + "; nothing was moved");
    }
    if (const std::string reason = UnsafeTargetReason(folder_, m.target); !reason.empty()) {
      throw EStagedMoveError("Cannot write " + folder_ + "/" + m.target + ": " + reason + "; nothing was moved");
    }
  }
  WriteRecord(staging_, moves, note);
  DoMoves(folder_, staging_, moves);
  committed_ = true;
  ::unlink(RecordPath(staging_).c_str());
  RemoveStaging(staging_);
}

std::optional<FinishedMoves> FinishStagedMoves(std::string_view folder) {
  const std::string target = NativeFolder(folder);
  const std::string staging = target + kStagingSuffix;
  struct stat info {};
  if (::lstat(staging.c_str(), &info) != 0) return std::nullopt;
  if (!S_ISDIR(info.st_mode)) {
    throw EStagedMoveError(staging + " is not a staging folder; move it away before restoring into " + target);
  }
  const int fd = LockStaging(staging, target);
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }
  } unlock{fd};
  const std::string record_path = RecordPath(staging);
  if (::access(record_path.c_str(), F_OK) != 0) {
    RemoveStaging(staging);
    return std::nullopt;
  }
  Record record = ReadRecord(record_path);
  FinishedMoves finished{record.note, DoMoves(target, staging, record.moves), record.moves.size()};
  ::unlink(record_path.c_str());
  RemoveStaging(staging);
  return finished;
}

void SetStagedMoveHookForTest(std::function<void(std::size_t moved)> hook) { MoveHook() = std::move(hook); }

}  // namespace kx8::platform
