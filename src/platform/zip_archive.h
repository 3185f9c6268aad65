// The zip component: the window's ZipArchive1 of class TZipArchive.
//
// The program sets three properties and calls a few operations:
//
//   ZipFilename      the archive's path
//   UnzipToFolder    where Extract puts the entries
//   FilesToProcess   the list of file masks; SetFilesToProcess("") clears
//                    it, AddMask appends one mask to what is there
//   Compress         every file matching a mask into ZipFilename
//   Extract          the entries of ZipFilename matching a mask into
//                    UnzipToFolder, replacing existing files
//
// Every path goes through the path layer (platform/path.h): Windows paths
// as the program builds them, any letter case.
//
// Settings fixed on the window: compression level 6 (deflate), paths kept,
// sub-folders not searched, folders and volume labels left out, a temporary
// file while writing, no password, no size or date filter.
//
// Compress. Each mask is a folder plus a pattern ("...\ACME\*.kdt"), found
// by FindEntries (platform/file_system.h), so only the plain files directly
// in that folder are taken (anything that is not a regular file is left
// out too). Masks are taken in their order, the files of a mask in the
// order FindEntries gives them; a file found by two masks is stored once.
// An entry is named after the file's name in the folder it was found in.
// Files up to a few megabytes are read once and deflated on worker threads
// (platform/zip_deflated_source.h); larger ones are deflated by libzip as
// it writes them. The archive is written to a temporary file beside it,
// flushed, opened again and checked entry by entry against the size and
// CRC-32 of the bytes read from the files (the data read back), and only
// then given its name. An existing archive is never changed: when
// ZipFilename is taken, Compress writes nothing and answers ArchiveExists,
// also when another program takes the name while the archive is written.
//
// Extract. A mask's folder part is ignored; its pattern is matched, by the
// same Windows rules, against the last component of each entry's stored
// name. With no mask at all every entry is taken. Entries are written with
// their stored paths below UnzipToFolder (created when missing), each
// through a temporary file that replaces the existing file in one rename,
// with the entry's date. Before anything is written, every entry to be
// extracted is checked: a name that is empty, absolute, carries a drive
// letter, holds a control character or a ".." component throws EZipError
// naming the entry. No entry is written beyond the size it declares.
//
// Results. Ordinary failures (a missing archive, a file that cannot be read
// or written, a check that finds a difference) are answered with a result
// code; LastError() then says what went wrong, naming the archive or the
// file. Only an unsafe entry name throws: it is a failed call, not a
// result.
#ifndef KX8_PLATFORM_ZIP_ARCHIVE_H_
#define KX8_PLATFORM_ZIP_ARCHIVE_H_

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kx8::platform {

enum class TZipResult {
  Ok,
  NoFiles,          // no file (Compress) or entry (Extract) matches a mask
  ArchiveNotFound,  // ZipFilename names no file
  ArchiveExists,    // Compress: ZipFilename is taken
  ReadFailed,       // the archive or a source file cannot be read, or is damaged
  WriteFailed,      // the archive or an extracted file cannot be written
  CheckFailed,      // the archive does not hold what the files hold
};

// "ok", "no files", "archive not found", ...
std::string_view ZipResultName(TZipResult result);

// Size and CRC-32 (the checksum an entry carries) of a file's content, for
// checking extracted files against their entries. False, with `error`
// naming the file, when it cannot be read.
bool FileChecksum(std::string_view path, std::uint64_t& size, std::uint32_t& crc, std::string& error);

// An archive entry that must not be extracted.
class EZipError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct TZipEntry {
  std::string name;    // as stored
  std::uint64_t size;  // uncompressed bytes
  std::uint32_t crc;   // CRC-32 of the data
  double modified;     // the entry's date, local time (program date type)
  bool is_directory;   // a folder entry (name ends in "/")
};

class TZipArchive {
 public:
  static constexpr int kCompressionLevel = 6;

  const std::string& ZipFilename() const { return zip_filename_; }
  void SetZipFilename(std::string path) { zip_filename_ = std::move(path); }

  const std::string& UnzipToFolder() const { return unzip_to_folder_; }
  void SetUnzipToFolder(std::string folder) { unzip_to_folder_ = std::move(folder); }

  const std::vector<std::string>& FilesToProcess() const { return files_to_process_; }
  // One mask per line ("\n" or "\r\n"); an empty text clears the list.
  void SetFilesToProcess(std::string_view text);
  // Appends one mask.
  void AddMask(std::string mask);

  TZipResult Compress();
  TZipResult Extract();

  // Compares ZipFilename with the files the masks find now: the same names,
  // and every entry reads back with the size and CRC-32 of its file.
  TZipResult Check();
  // Reads every entry of ZipFilename back (each CRC is checked) and checks
  // every name as Extract does (EZipError for an unsafe one).
  TZipResult TestArchive();
  // True when every file entry that Extract would take holds exactly the
  // bytes of the file `target(entry name)` names (a native path; "" names
  // none), so that extracting them would change nothing. False when the
  // archive, an entry or a file cannot be read. Names are checked as
  // Extract checks them (EZipError for an unsafe one). Writes nothing.
  bool SelectedEntriesHoldFiles(const std::function<std::string(const std::string&)>& target);
  // The entries of ZipFilename in their stored order; empty, with
  // LastError() set, when it cannot be read.
  std::vector<TZipEntry> Entries();

  // Why the last operation did not answer Ok; empty after Ok.
  const std::string& LastError() const { return last_error_; }

 private:
  TZipResult Fail(TZipResult result, std::string text);

  std::string zip_filename_;
  std::string unzip_to_folder_;
  std::vector<std::string> files_to_process_;
  std::string last_error_;
};

}  // namespace kx8::platform

#endif  // KX8_PLATFORM_ZIP_ARCHIVE_H_
