// The release's update archives lie beside the company folders, in the
// folder the root folder names (its path up to the last separator). Their
// tables reach a company folder through a staging folder, so that a process
// killed half-way leaves every table whole: either all of its old files or
// all of the archive's.
#ifndef KX8_CONVERSIONS_UPDATE_ARCHIVE_H_
#define KX8_CONVERSIONS_UPDATE_ARCHIVE_H_

#include <string>
#include <vector>

#include "platform/zip_archive.h"
#include "platform/ui_services.h"

namespace kx8::conversions {

inline constexpr char kArchiveNotFound[] = " not existed in directory ";

// The root folder up to and including its last separator.
std::string ArchiveFolder(const std::string& root);

// True when every entry of `archive` whose name matches `mask` is in the
// folder `folder` (a company's, say) already, byte for byte (so that extracting it
// would change nothing). False when the archive cannot be read or holds
// nothing, and when an entry's name is not safe to extract (the extraction
// then reports it). Leaves `zip` set to the archive and that mask.
bool ArchiveCopiesInFolder(platform::TZipArchive& zip, const std::string& archive, const std::string& folder,
                           const std::string& mask);

// Extracts the entries of `archive` that match `masks` into the company
// folder `folder`, replacing its files. The mask list starts empty: masks
// left by the backup or an earlier extraction would take other files out
// of the archive. The entries land in the folder's staging folder first and
// are moved in one committed step (platform/staged_move.h); a move cut short
// is finished when the company is next connected. An archive that holds no
// matching entry changes nothing, and neither does an entry whose bytes the
// folder's file holds already. Raises, naming the archive or the file,
// when the archive cannot be read or a file cannot be written; the folder is
// then as it was.
void ExtractIntoCompanyFolder(platform::TZipArchive& zip, platform::UiServices& ui, const std::string& archive,
                              const std::string& folder, const std::vector<std::string>& masks);

}  // namespace kx8::conversions

#endif  // KX8_CONVERSIONS_UPDATE_ARCHIVE_H_
