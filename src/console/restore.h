// Putting a company's files back from one of its backup archives (kx8db
// restore ARCHIVE FOLDER): all of the archive's files or none.
//
//   1. A restore of the folder that a crash interrupted is finished first
//      (FinishInterruptedRestore).
//   2. The whole archive is read back (every CRC) and every name checked:
//      none empty, absolute, with a drive letter, a ".." component or a
//      control character; no two naming one file in any letter case; none
//      to be written through a symbolic link or over something that is not
//      a plain file in the folder (the folder itself included).
//   3. The archive's declared total must fit in the free space of the
//      folder's disk.
//   4. A listing shows the total size, the files replaced, the files added
//      and the database files the archive does not hold (left as they
//      are); then "Do you wish to replace the files of the folder with
//      those of the archive ?".
//   5. Every file is extracted into a staging folder beside the company
//      folder (platform/staged_move.h), flushed, and read back against its
//      entry (size and CRC-32).
//   6. The files replace the company's, one rename each, under a record
//      that lets the next start roll an interrupted restore forward.
//
// Any failure up to step 6 leaves the company folder as it was; a failure
// within step 6 leaves the record, and the next restore or upgrade run of
// the folder completes it.
#ifndef KX8_CONSOLE_RESTORE_H_
#define KX8_CONSOLE_RESTORE_H_

#include <string>

#include "platform/ui_services.h"

namespace kx8::console {

enum class RestoreOutcome { Restored, Declined };

// Steps 1 to 6. Throws (std::runtime_error, text naming the archive or the
// folder) when the restore is refused or fails.
RestoreOutcome RestoreCompany(const std::string& archive, const std::string& folder, platform::UiServices& ui);

// Completes a restore of `folder` that was interrupted after its files had
// been checked, and says so in a message; drops the staged files of one
// interrupted before that. Nothing when there is none. Throws when the
// staging folder is in use or the completion fails.
void FinishInterruptedRestore(const std::string& folder, platform::UiServices& ui);

}  // namespace kx8::console

#endif  // KX8_CONSOLE_RESTORE_H_
