// The commit protocol of whole-table rewrites (pack, zap, encryption,
// decryption, restructure): how a table switches from its files X.KDT,
// X.KDM and X.KDI to the rebuilt X.KDT.new, X.KDM.new and X.KDI.new so that
// a stop at any point, of the process or of the machine, leaves the old
// table or the new one, never a mix.
//
// Invariants (each step below says which one it keeps):
//  1. The rebuilt files are complete and flushed before the commit marker
//     X.KDT.commit exists (RebuildWriter::Finish flushes data and memo; the
//     index file is written through a flushed temporary file).
//  2. The marker appears whole or not at all: it is written to a temporary
//     file, flushed, renamed into place, and the folder is flushed. That
//     folder flush also makes the names of the .new files durable.
//  3. Without a marker the old files are the table: leftover .new files are
//     removed at the next open.
//  4. With a marker the new files are the table. Every line of the marker is
//     repeatable (a rename whose source is gone was done, removing a missing
//     file is no error), so recovery replays the whole marker, however often
//     it was cut off.
//  5. The companions (memo, index) are switched before the data file, and the
//     folder is flushed after the last rename and before the marker goes:
//     once the marker's removal is durable, so are the renames.
//  6. The backup set of a restructure (X.KDT.BAK, X.KDI.BAK, X.KDM.BAK) is
//     made of the old files themselves (hard links), made and flushed before
//     the marker, so it never mixes old and new; its data file is linked
//     after its companions, so a half-made set has no X.KDT.BAK.
//  7. Only a handle that has the table to itself commits (sole use), and a
//     table is recovered when it is opened, before anything reads it, by
//     one opener at a time: a shared opener that finds a marker takes the
//     open lock exclusively while it replays it.
//  8. A commit that fails once it has begun writing the marker leaves the
//     table object failed (TableFile::MarkFailed): the files may be the new
//     ones already, so the object answers nothing but an error until it is
//     released, and the next open completes the switch (invariant 4) or,
//     when the marker never became visible, keeps the old table (3).
//
// Marker format: one line per step, fields separated by a tab, names bare
// (all files live in the table's folder):
//   R <from> <to>    rename from to to
//   D <name>         remove name
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"
#include "core/fault.h"
#include "core/text.h"
#include "dbe/dbe.h"
#include "platform/folder_names.h"
#include "storage/table_file.h"

namespace dbe {

using namespace format;

namespace {

struct Step {
  bool rename;
  std::string from;  // empty for a removal
  std::string to;
  const char* stage = nullptr;  // fault point after the step, in a commit
};

std::string EncodeMarker(const std::vector<Step>& steps) {
  std::string out;
  for (const Step& s : steps) out += s.rename ? "R\t" + s.from + "\t" + s.to + "\n" : "D\t" + s.to + "\n";
  return out;
}

// Lines that are not steps are skipped: the marker is written atomically
// (invariant 2), so such a line can only come from outside.
std::vector<Step> DecodeMarker(const std::string& text) {
  std::vector<Step> steps;
  for (std::string_view line : Split(text, '\n')) {
    std::vector<std::string_view> parts = Split(line, '\t');
    if (parts.size() == 3 && parts[0] == "R") steps.push_back({true, std::string(parts[1]), std::string(parts[2])});
    if (parts.size() == 2 && parts[0] == "D") steps.push_back({false, "", std::string(parts[1])});
  }
  return steps;
}

// Carries out the steps in order; returns whether the data file was renamed.
bool Apply(const std::vector<Step>& steps, const std::string& dir, const std::string& kdt) {
  bool data_replaced = false;
  for (const Step& s : steps) {
    if (!s.rename) {
      os::RemoveFile(dir + s.to);
    } else if (os::PathExists(dir + s.from)) {  // else renamed by an earlier, interrupted pass
      os::RenameFile(dir + s.from, dir + s.to);
      if (dir + s.to == kdt) data_replaced = true;
    }
    if (s.stage != nullptr) FaultPoint(s.stage);
  }
  return data_replaced;
}

}  // namespace

void TableFile::Recover() {
  const std::string marker = paths_.kdt + ".commit";
  if (!os::PathExists(marker)) {
    // Invariant 3, with the temporary files of an index file or a marker
    // that a stop cut short. Nearly every open finds none: the folder's
    // kept listing says so without a removal tried per name.
    const std::vector<std::string> leftovers = {paths_.kdt + ".new", paths_.kdt + ".new.tmp", paths_.kdi + ".new",
                                                paths_.kdi + ".new.tmp", paths_.kdm + ".new", paths_.kdm + ".new.tmp",
                                                marker + ".tmp"};
    const auto names = kx8::platform::ListFolder(DirOf(paths_.kdt));
    for (const std::string& p : leftovers) {
      if (names == nullptr || names->Contains(BaseOf(p))) os::RemoveFile(p);
    }
    return;
  }
  // Invariant 7: another program that holds the table open has replayed
  // the marker already or is replaying it now.
  if (!exclusive_ && !data_.TryLock(kLockOpen, true)) {
    Fail(DBE_TABLE_IN_USE, "Error 5042: The table is being recovered by another program. File: " + paths_.kdt);
  }
  bool data_replaced = Apply(DecodeMarker(os::ReadWholeFile(marker)), DirOf(paths_.kdt), paths_.kdt);
  os::SyncParentDir(paths_.kdt);  // invariant 5
  os::RemoveFile(marker);
  os::SyncParentDir(paths_.kdt);
  if (data_replaced) {
    data_ = os::File::OpenExisting(paths_.kdt);
    if (!data_.TryLock(kLockOpen, exclusive_)) {
      Fail(DBE_TABLE_IN_USE, "Error 5042: The table is in use by another program. File: " + paths_.kdt);
    }
  } else if (!exclusive_) {
    data_.TryLock(kLockOpen, false);  // back to the shared hold of an ordinary open
  }
}

namespace {
void (*g_before_files_change)() = nullptr;
}  // namespace

void TableFile::SetBeforeFilesChange(void (*hook)()) { g_before_files_change = hook; }

void TableFile::BeforeFilesChange() {
  if (g_before_files_change != nullptr) g_before_files_change();
}

// The table's files as they are become its .BAK set (invariant 6).
void TableFile::MakeBackupSet() {
  try {
    // The data file's copy goes first and comes last: a process killed
    // between these steps leaves at most companions without a data file,
    // never an X.KDT.BAK whose memo or index file is missing or older.
    for (const std::string& p : {paths_.kdt, paths_.kdi, paths_.kdm}) os::RemoveFile(p + ".BAK");
    for (const std::string& p : {paths_.kdm, paths_.kdi, paths_.kdt}) {
      if (os::PathExists(p)) os::LinkOrCopy(p, p + ".BAK");
    }
    os::SyncParentDir(paths_.kdt);
  } catch (const Error&) {
    // Part of a backup set cannot be opened: no set is better than half.
    for (const std::string& p : {paths_.kdt, paths_.kdi, paths_.kdm}) {
      try {
        os::RemoveFile(p + ".BAK");
      } catch (const Error&) {
        // The failure being raised is the one that matters.
      }
    }
    throw;
  }
}

void TableFile::CommitRebuild(os::File out, bool has_memo, bool keep_backup) {
  BeforeFilesChange();
  const std::string kdt_new = paths_.kdt + ".new", kdm_new = paths_.kdm + ".new", kdi_new = paths_.kdi + ".new";
  if (!out.TryLock(kLockOpen, true)) {
    Fail(DBE_TABLE_IN_USE, "Error 5042: The new table file is in use. File: " + kdt_new);
  }
  // Index file: definitions only; entries are rebuilt for the new row numbers.
  bool has_kdi = !tags_.empty();
  if (has_kdi) {
    std::string saved_kdi = paths_.kdi;
    paths_.kdi = kdi_new;
    bool built = indexes_built_;
    indexes_built_ = false;
    try {
      SaveIndexFile(false);  // invariant 1
    } catch (...) {
      paths_.kdi = saved_kdi;
      indexes_built_ = built;
      throw;
    }
    paths_.kdi = saved_kdi;
  }
  if (keep_backup) MakeBackupSet();  // invariant 6
  FaultPoint("rewrite-written");

  // Companions first, the data file last (invariant 5).
  const std::vector<Step> steps = {
      has_memo ? Step{true, BaseOf(kdm_new), BaseOf(paths_.kdm), "rewrite-memo"}
               : Step{false, "", BaseOf(paths_.kdm), "rewrite-memo"},
      has_kdi ? Step{true, BaseOf(kdi_new), BaseOf(paths_.kdi), "rewrite-index"}
              : Step{false, "", BaseOf(paths_.kdi), "rewrite-index"},
      Step{true, BaseOf(kdt_new), BaseOf(paths_.kdt), nullptr},
  };
  const std::string marker = paths_.kdt + ".commit";
  try {
    os::WriteFileAtomically(marker, EncodeMarker(steps));  // invariant 2
    FaultPoint("rewrite-marked");
    Apply(steps, DirOf(paths_.kdt), paths_.kdt);
    os::SyncParentDir(paths_.kdt);
    FaultPoint("rewrite-data");
    os::RemoveFile(marker);
    os::SyncParentDir(paths_.kdt);
    FaultPoint("rewrite-done");
    AdoptRebuilt(std::move(out));
  } catch (...) {
    // Invariant 8: the marker may be on disk, so the files may already be
    // the new ones while this object holds the old.
    MarkFailed();
    throw;
  }
}

}  // namespace dbe
