// Moving a set of files into a folder all together.
//
// The files are first written into a staging folder beside the target
// folder (same parent, so on the same file system and every move is one
// rename): "...\COMPANY\ACME" stages in "...\COMPANY\ACME.~staging" (a name
// with a "." is never taken for a company code). Only when every file is
// there, flushed and checked does the caller commit:
//
//   1. A record of the moves is written into the staging folder (through a
//      temporary file, flushed, renamed): this is the commit point.
//   2. Each file is renamed from the staging folder to its target, which it
//      replaces in one step; the target folders are flushed.
//   3. The record and the staging folder are removed.
//
// A process killed on the way leaves a staging folder that the next start
// finishes (FinishStagedMoves): with a record, the moves whose file is still
// staged are done and the rest is cleaned up (rolled forward); without one,
// nothing had been moved and the staging folder is removed. The staging
// folder is locked (flock) while a process works in it, so a second one
// refuses instead of finishing a move that is still running.
//
// Paths here are Windows paths as the program builds them (platform/path.h);
// `relative` targets are native ("/" separated) and below the folder.
#ifndef KX8_PLATFORM_STAGED_MOVE_H_
#define KX8_PLATFORM_STAGED_MOVE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kx8::platform {

// A failure of staging, committing or finishing; the text names the folder
// or the file and says what state it is left in.
class EStagedMoveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StagedMove {
  std::string staged;  // below the staging folder's file area, native
  std::string target;  // below the target folder, native
};

// The native staging folder of a folder.
std::string StagingFolderOf(std::string_view folder);

// Why a file must not be written at `relative` below the native folder
// `folder`: the folder or an existing component below it is a symbolic
// link, an existing component that should be a folder is not one, or the
// file itself exists as something other than a regular file. "" when it
// may.
std::string UnsafeTargetReason(const std::string& folder, std::string_view relative);

// Bytes free for an ordinary user on the file system that holds `path`
// (or its nearest existing parent).
std::uint64_t FreeBytes(std::string_view path);

// A staging folder held (locked) by this process: created empty, or
// removed with what it holds when the object goes without a commit.
class StagingArea {
 public:
  // Creates the staging folder of `folder`. Throws when one is there
  // already (an earlier run must be finished first) or cannot be made.
  explicit StagingArea(std::string_view folder);
  ~StagingArea();
  StagingArea(const StagingArea&) = delete;
  StagingArea& operator=(const StagingArea&) = delete;

  // The folder the caller writes its files into (Windows path with a
  // trailing separator); StagedMove::staged is relative to it.
  const std::string& FileArea() const { return file_area_; }

  // Steps 1 to 3 above. `note` is kept in the record and given back by
  // FinishStagedMoves (it says what the moves were for). Throws when a
  // move fails; the record then stays, and FinishStagedMoves completes it.
  void Commit(const std::vector<StagedMove>& moves, const std::string& note);

 private:
  std::string folder_;     // native target folder
  std::string staging_;    // native staging folder
  std::string file_area_;  // Windows form, for the caller
  int lock_fd_ = -1;
  bool committed_ = false;
};

struct FinishedMoves {
  std::string note;   // as given to Commit
  std::size_t moved;  // files moved now
  std::size_t total;  // moves in the record
};

// Finishes what an interrupted StagingArea left for `folder`: nullopt when
// there was no staging folder or one without a record (then removed);
// otherwise the moves are completed and reported. Throws when the staging
// folder is in use by another process or a move fails (the record stays).
std::optional<FinishedMoves> FinishStagedMoves(std::string_view folder);

// For tests: called before each rename of a commit or a finish with the
// number of moves done so far; a hook that throws leaves the staging folder
// as a process killed at that point would. Empty to turn it off.
void SetStagedMoveHookForTest(std::function<void(std::size_t moved)> hook);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_STAGED_MOVE_H_
