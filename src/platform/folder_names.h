// The names in a folder, read once and kept while the folder is unchanged.
//
// Finding a file without regard to letter case means reading its folder;
// an upgrade pass asks about the same company folder thousands of times
// (every table open checks the folder for a dictionary, every new or
// missing name is looked up), so the listing of each folder is kept.
//
// A kept listing is only answered from while it is known to be current:
//  - every question first compares the folder's identity and its change
//    and modification times with those seen when it was read (one stat of
//    the folder, no scan). Any entry created, renamed or removed there, by
//    this process or another, changes those times, and the folder is read
//    again;
//  - a change made in the same clock tick as the reading may leave the
//    times as they were. A listing read less than a tick (two seconds on
//    file systems that keep whole seconds only) after the folder's last
//    change is therefore not trusted: it is read again on every question
//    until a reading is old enough to trust;
//  - the engine's own creates, renames and removals (and DeleteFile's) are
//    also reported (FolderChanged), which drops the listing at once;
//  - within one operation (FolderOperation: one call of the engine, say an
//    open that looks for a dictionary and then for leftovers of a rewrite),
//    a listing read in it answers its later questions without another stat,
//    until the operation itself changes the folder.
//
// So a name made by another program is found on the next question, and a
// name that went away is not reported. The cost of a question about an
// unchanged folder is one stat.
#ifndef KX8_PLATFORM_FOLDER_NAMES_H_
#define KX8_PLATFORM_FOLDER_NAMES_H_

#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kx8::platform {

// One reading of a folder: its entries' names as on disk, "." and ".."
// left out, in no particular order.
class FolderNames {
 public:
  explicit FolderNames(std::vector<std::string> names);
  FolderNames(const FolderNames&) = delete;
  FolderNames& operator=(const FolderNames&) = delete;

  // The entry equal to name without regard to ASCII case: the exact
  // spelling when there is one, else the first match in byte order; ""
  // when none matches.
  std::string Find(std::string_view name) const;
  // True when an entry has exactly this spelling.
  bool Contains(std::string_view exact) const;
  const std::vector<std::string>& names() const { return names_; }

 private:
  std::vector<std::string> names_;
  std::unordered_set<std::string_view> exact_;  // views into names_
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
// a file appear under a new name): the listing of its folder is dropped.
void FolderChanged(std::string_view native_path);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_FOLDER_NAMES_H_
