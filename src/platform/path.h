// Windows path semantics on a Linux file system.
//
// The program builds its paths the Windows way, by concatenation:
// root + "COMPANY\" + code + "\" + "EMPLOYEE.KDT". Every file access of the
// engine and the console passes such a path through this layer first.
//
// Rules:
//  - "\" and "/" both separate components; repeated separators collapse to
//    one. A trailing separator is kept as a trailing "/": folders are named
//    that way (root + "KELPATMP\").
//  - "." is dropped and ".." removes the component before it, lexically
//    (NativePath). ".." never climbs above the root of an absolute path, a
//    drive folder or a "//server/share" pair; at the start of a relative
//    path it is kept. A path whose last component is "." or ".." names a
//    folder and ends in "/". A relative path that cancels out is ".".
//  - Drive letters: a path starting with an ASCII letter and ":" maps to
//    the folder named by the environment variable KX8_DRIVE_<UPPER LETTER>
//    when it is set and not empty (trailing "/" of its value ignored),
//    otherwise to "/mnt/<lower-case letter>". So "c:\temp\" is
//    "/mnt/c/temp/" unless KX8_DRIVE_C is set; "c:" alone is the drive
//    folder itself; "c:temp" is read as "c:\temp".
//  - UNC paths "\\server\share\x" become "//server/share/x".
//  - A path starting with a single separator starts at the file system
//    root; any other path stays relative to the current directory.
//  - Letter case (ResolvePath): each component is looked up without regard
//    to ASCII letter case. The exact spelling wins when it exists (one
//    lstat: the fast path); otherwise the folder is scanned and the first
//    case-insensitive match in byte order is used. From the first component
//    that matches nothing, that component and all later ones keep the case
//    they were given, so a new file keeps its spelling unless a name that
//    differs only in case already exists.
//
// Nothing here throws for a missing file: resolution of a path that does
// not exist just returns the spelling it was given (in native form).
#ifndef KX8_PLATFORM_PATH_H_
#define KX8_PLATFORM_PATH_H_

#include <string>
#include <string_view>

namespace kx8::platform {

// Separators, "." / "..", drive letters and UNC prefixes mapped to a Linux
// path. Pure text work: the file system is not consulted (the drive rule
// reads the environment).
std::string NativePath(std::string_view path);

// NativePath plus case-insensitive resolution of every existing component.
std::string ResolvePath(std::string_view path);

// True when the resolved path names a regular file (symbolic links followed).
bool FileExists(std::string_view path);

// True when the resolved path names a folder (symbolic links followed).
bool DirectoryExists(std::string_view path);

// Parts of a path. Both "\" and "/" are taken as separators; the results are
// pieces of the text given, separators as written. Trailing separators are
// ignored when finding the last component, so a folder named with a
// trailing separator is treated like the same folder without one.
//
// ParentFolder: the folder holding the last component, ending in its
// separator ("/a/b/c.KDT" -> "/a/b/", "/a/b/" -> "/a/", "c.KDT" -> "",
// "/" -> "/").
std::string ParentFolder(std::string_view native_path);
// FileNamePart: the last component ("/a/b/c.KDT" -> "c.KDT", "/a/b/" -> "b",
// "/" -> "").
std::string FileNamePart(std::string_view native_path);
// ExtensionPart: of the last component, from its last "." on, the point
// included ("X.KDT" -> ".KDT", "X.KDT.BAK" -> ".BAK", "X." -> "."); "" when
// there is none. A leading point does not start an extension (".ini" -> "",
// "." and ".." -> "").
std::string ExtensionPart(std::string_view native_path);

// Equal texts without regard to ASCII letter case; other bytes compare
// exactly. Does not depend on the locale.
bool SameNameIgnoreCase(std::string_view a, std::string_view b);

// A path given on a command line, made absolute: a relative one is taken
// from the current folder (the engine takes relative table names from the
// connection's folder, so paths handed on must not be relative). Absolute,
// drive-letter and UNC paths are returned as given.
std::string MakeAbsolute(std::string_view path);

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_PATH_H_
