// The names in a folder, read once and kept current.
//
// Finding a file without regard to letter case means reading its folder;
// an upgrade pass asks about the same company folder thousands of times
// (every table open checks the folder for a dictionary, every new or
// missing name is looked up) while changing it every few milliseconds
// (each table rewrite renames files in it), so the listing of each folder
// is kept and brought up to date rather than read again.
//
// How a kept listing stays current:
//  - On local file systems the kernel reports every entry created, renamed
//    or removed in a kept folder, by this process or any other (inotify).
//    The reports are applied to the listing before each question is
//    answered, in the order the changes happened, so the folder is read
//    once and never again while it is kept. A report is queued before the
//    call that made the change returns: a change another program finished
//    before the question is always seen, also within the same clock tick.
//    Each question still stats the folder to see that the path names the
//    same folder (a parent folder renamed or replaced is not reported).
//  - Where the kernel cannot report changes (network file systems, whose
//    other clients change folders unseen; no watch to spare), the listing
//    is kept by the folder's identity and change and modification times:
//    any change makes the next question read the folder again. A change
//    made in the same clock tick as the reading may leave the times as they
//    were, so a reading less than a tick (two seconds on file systems that
//    keep whole seconds) after the folder's last change is not trusted.
//    The engine's own creates, renames and removals (and DeleteFile's) are
//    reported (FolderChanged), which drops such a listing at once.
//  - Within one operation (FolderOperation: one call of the engine, say an
//    open that looks for a dictionary and then for leftovers of a rewrite),
//    a listing checked in it answers its later questions without another
//    stat; changes the operation reports (FolderChanged) are still applied.
//
// So a name made by another program is found on the next question, and a
// name that went away is not reported. The cost of a question about a
// kept folder is one stat (and one read of the kernel's reports).
#ifndef KX8_PLATFORM_FOLDER_NAMES_H_
#define KX8_PLATFORM_FOLDER_NAMES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kx8::platform {

// One listing of a folder: its entries' names as on disk, "." and ".."
// left out, in no particular order.
class FolderNames {
 public:
  explicit FolderNames(const std::vector<std::string>& names);
  FolderNames(const FolderNames&) = default;
  FolderNames& operator=(const FolderNames&) = delete;

  // The entry equal to name without regard to ASCII case: the exact
  // spelling when there is one, else the first match in byte order; ""
  // when none matches.
  std::string Find(std::string_view name) const;
  // True when an entry has exactly this spelling.
  bool Contains(std::string_view exact) const;
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Set = std::unordered_set<std::string, Hash, std::equal_to<>>;
  const Set& names() const { return exact_; }

  // Brings the listing up to date with one reported change.
  void Add(const std::string& name);
  void Remove(const std::string& name);

 private:
  Set exact_;
  // Lower-case spelling -> the entries that fold to it.
  std::unordered_map<std::string, std::vector<std::string>> folded_;
};

// Marks one operation for the listings (see above). Operations may nest;
// the outermost one counts. Per thread.
class FolderOperation {
 public:
  FolderOperation();
  ~FolderOperation();
  FolderOperation(const FolderOperation&) = delete;
  FolderOperation& operator=(const FolderOperation&) = delete;
};

// The current names of a folder given as a native path (platform/path.h;
// "" is the current folder, a trailing "/" does not matter). Null when the
// folder does not exist or cannot be read.
std::shared_ptr<const FolderNames> ListFolder(std::string_view native_folder);

// This process created, renamed or removed the entry native_path (or made
// a file appear under a new name). Called after the change.
void FolderChanged(std::string_view native_path);

// For tests: the number of times a folder was read since the start, and
// whether the kernel's reports are used (off: listings kept by the
// folder's times only). Switching drops every kept listing.
std::uint64_t FolderReadings();
void UseChangeReports(bool use);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_FOLDER_NAMES_H_
