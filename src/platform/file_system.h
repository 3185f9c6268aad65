// Folder entries, folder creation and file deletion, for Windows paths.
//
// Every path here is a Windows path as the program builds it (root +
// "COMPANY\" + code + "\*.*"); it goes through the path layer
// (platform/path.h), so "\" and "/" both separate and every existing
// component is found without regard to letter case. FileExists and
// DirectoryExists are the path layer's own.
//
// Enumeration (FindEntries). The last component of the mask is a pattern,
// matched against each entry's name without regard to ASCII letter case;
// the rest names the folder, which is not searched recursively. The
// pattern follows the Windows rules:
//   *   any run of characters, the empty one included;
//   ?   one character, or none at the end of the name or before a "."
//       ("ACME????" finds "ACME" but not "ACME.OLD");
//   *.  when "*" is followed by ".", the "*" stops before the name's last
//       "." ("*.kdt" finds "EMPLOYEE.KDT" but not "X.KDT.BAK");
//   .   followed by "*", "?" or the end of the pattern, it also matches the
//       end of a name without an extension: "*.*" finds every name,
//       "README" included, "TEMP_*.*" finds "TEMP_X" and "TEMP_X.KDT", and
//       "*." finds exactly the names without a ".";
// anything else matches itself. (Windows also matches the generated short
// 8.3 names; there are none here.)
//   "." and ".." are never reported. Plain files are always reported;
// folders only when the caller asks for them with
// FindAttr::FilesAndDirectories. Asking for folders does not restrict the
// result to folders: that is how the Windows enumeration treats the
// directory attribute, and the program relies on it (entries of
// "COMPANY\*.*" that are plain files are offered as company codes too).
// Other kinds of entries (devices, sockets, broken links) count as plain
// files; a link counts as what it points to.
//   Each entry is reported once, with its name as on disk, in the order of
// the names compared without regard to ASCII case (byte order breaks
// ties), the order the Windows file systems keep. A folder that does not
// exist or cannot be read gives no entries, as the Windows enumeration
// fails, and its callers take that as "nothing found"; so does a mask that
// ends in a separator (there is no pattern).
#ifndef KX8_PLATFORM_FILE_SYSTEM_H_
#define KX8_PLATFORM_FILE_SYSTEM_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/path.h"

namespace kx8::platform {

enum class FindAttr {
  Files,                // plain files only
  FilesAndDirectories,  // the directory attribute asked for: folders as well as files
};

struct FoundEntry {
  std::string name;         // as on disk, without its folder
  bool is_directory;        // a folder (or a link to one)
  std::uint64_t size;       // bytes; 0 for a folder
  double modified;          // last-modified date and time, local time
  bool is_regular = false;  // a plain file (or a link to one): no device, pipe or socket
};

// The entries of the mask's folder whose names match the mask's pattern.
std::vector<FoundEntry> FindEntries(std::string_view mask, FindAttr attributes);

// True when name matches pattern by the rules above. Exposed for tests and
// for callers that filter names they already have.
bool MatchesMask(std::string_view name, std::string_view pattern);

// Creates the folder and every missing folder above it. True when the
// folder exists afterwards (also when it existed before); false for an
// empty path and when a folder cannot be created (for example because a
// plain file has the name of one of the folders).
bool ForceDirectories(std::string_view path);

// Deletes a file. True when it was deleted; false when there is no such
// file, when the path names a folder, or when the file cannot be removed.
// Callers decide whether a failure matters.
bool DeleteFile(std::string_view path);

// Last-modified date and time of a file or folder, local time, to the
// millisecond; nullopt when there is none.
std::optional<double> FileModifiedDate(std::string_view path);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_FILE_SYSTEM_H_
