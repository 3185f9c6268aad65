// One table as this process holds it: the data file (.KDT, memory-mapped),
// its memo file (.KDM) and index file (.KDI), the in-memory index tags, and
// the locks that keep handles and processes apart. Every table handle of the
// process that names the same file shares one TableFile, so all handles see
// one set of indexes; other processes are noticed through the change counter
// in the data file's header.
#ifndef KX8_ENGINE_STORAGE_TABLE_FILE_H_
#define KX8_ENGINE_STORAGE_TABLE_FILE_H_

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "crypto/cipher.h"
#include "index/key.h"
#include "index/ordered_index.h"
#include "os/file.h"
#include "storage/header_counts.h"
#include "storage/schema.h"

namespace dbe {

struct TablePaths {
  std::string kdt, kdi, kdm;
  // Names the table's files from the data file name: the last ".KDT" in the
  // name (any case) becomes ".KDI"/".KDM", so X.KDT.BAK goes with X.KDI.BAK.
  static TablePaths For(const std::string& kdt_path);
};

struct IndexTag {
  std::string name;
  std::string expr;
  uint32_t options = 0;  // DBE_INDEX_*
  KeyDef key;
  OrderedIndex entries;
  bool dropped = false;
  bool unique() const { return options & 1u; }
};

// Values of memo/binary fields waiting for the row to be written:
// nullopt empties the field.
using PendingBlobs = std::map<uint32_t, std::optional<std::string>>;

class TableFile : public std::enable_shared_from_this<TableFile> {
 public:
  ~TableFile();
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;

  // Opens (or joins) the table for one handle. Exclusive fails while any
  // other handle here or in another process has the table open.
  // index_file_optional: a missing index file reads as one without tags
  // (for the statement that builds the index again).
  static std::shared_ptr<TableFile> Acquire(const std::string& kdt_path, bool exclusive,
                                            bool index_file_optional = false);
  // Called by each handle when it closes.
  void Release(bool exclusive);
  // Whether the files with this identity show the table as this process
  // holds it: false while a change of it waits (deferred), after its rewrite
  // failed, or while it is open exclusively here. With `held`, also false
  // unless the files are the ones `held` has open.
  static bool FilesShowTable(uint64_t dev, uint64_t ino, const TableFile* held = nullptr);
  // Creates a new empty table; fails when the data file exists.
  static void Create(const std::string& kdt_path, const Layout& layout);
  // Removes the table's files; the caller must be the table's only user.
  void DeleteFiles();
  // Runs before a table's files are switched to rebuilt ones or deleted, so
  // that what must reach the disk before them does (a data dictionary's
  // waiting changes: it must never be behind the files it describes). A
  // failure of the hook stops the change. Process-wide; null for none.
  static void SetBeforeFilesChange(void (*hook)());
  static void BeforeFilesChange();

  const std::string& file_name() const { return paths_.kdt; }
  const TablePaths& paths() const { return paths_; }
  const Layout& layout() const { return layout_; }
  bool writable() const { return data_.writable(); }

  // --- rows -------------------------------------------------------------
  uint32_t record_count() const;
  uint32_t live_count() const;
  uint64_t change_counter() const;
  bool IsDeleted(uint32_t recno);
  // The plain record image of a row; encrypted tables need the key.
  void ReadRecord(uint32_t recno, const crypto::Key* key, uint8_t* out);
  // Rows first .. first + count - 1 into out, one record after another;
  // an encrypted table's are opened on every core.
  void ReadRecords(uint32_t first, uint32_t count, const crypto::Key* key, uint8_t* out);
  // Calls row with every stored row (deleted ones included, as the data
  // file holds them, decrypted with key), in order, until it returns
  // false; false then.
  bool ForEachStoredRow(const crypto::Key* key, const std::function<bool(const uint8_t*)>& row);
  std::string ReadBlob(const uint8_t* rec, uint32_t field, const crypto::Key* key);
  uint32_t BlobLength(const uint8_t* rec, uint32_t field);

  uint32_t Append(uint8_t* rec, const PendingBlobs& blobs, const crypto::Key* key);
  void Update(uint32_t recno, uint8_t* rec, const PendingBlobs& blobs, const crypto::Key* key);
  void Delete(uint32_t recno, const crypto::Key* key);
  void Recall(uint32_t recno, const crypto::Key* key);

  // --- record locks -------------------------------------------------------
  // owner identifies the handle; the same owner may lock again.
  bool LockRecord(uint32_t recno, uint64_t owner);
  void UnlockRecord(uint32_t recno, uint64_t owner);
  void UnlockAll(uint64_t owner);
  bool IsLockedByOther(uint32_t recno, uint64_t owner) const;

  // --- indexes ------------------------------------------------------------
  const std::vector<std::shared_ptr<IndexTag>>& tags() const { return tags_; }
  std::shared_ptr<IndexTag> FindTag(const std::string& name) const;
  // Makes the in-memory entries of every tag current.
  void EnsureIndexes(const crypto::Key* key);
  std::shared_ptr<IndexTag> CreateIndex(const std::string& name, const std::string& expr,
                                        uint32_t options, const crypto::Key* key);
  void DropIndex(const std::string& name);

  // --- encryption ---------------------------------------------------------
  bool encrypted() const;
  // Checks a password against the table; returns the key or throws.
  std::shared_ptr<const crypto::Key> KeyForPassword(const std::string& password);
  // For a table encrypted with a data dictionary's key: whether it is that
  // dictionary's, and the key checked against the table.
  bool dictionary_keyed() const;
  const std::array<uint8_t, 16>& key_owner() const { return key_owner_; }
  std::shared_ptr<const crypto::Key> KeyFromDictionary(const std::array<uint8_t, 16>& dictionary_id,
                                                       const std::shared_ptr<const crypto::Key>& key);

  // --- whole-table rewrites (sole use required) ----------------------------
  enum class Rewrite { Pack, Zap, Encrypt, Decrypt };
  // Encrypt takes the password, or (dictionary_key set) a data dictionary's
  // key and id.
  struct DictionaryKey {
    std::array<uint8_t, 16> id;
    std::shared_ptr<const crypto::Key> key;
  };
  void RewriteTable(Rewrite kind, const crypto::Key* key, const std::string& password,
                    const DictionaryKey* dictionary_key = nullptr);
  // Rebuilds the table with new_layout; source[i] is the old field whose
  // values the new field i takes over, or -1 for a new field. The previous
  // files stay as the .BAK set.
  void Restructure(const Layout& new_layout, const std::vector<int>& source, const crypto::Key* key);

  // --- deferred rewrites (deferred_rewrite.cc) -------------------------------
  // While deferral is on (process-wide), restructures, packs, encryptions
  // and decryptions of a table are checked as they are asked for but kept
  // in memory: the table shows its new fields, tags and encryption at once,
  // and its files are rewritten once, for all of them together, when its
  // rows are next read or written, when deferral ends, or at
  // ApplyDeferredRewrites(), whichever comes first.
  static void SetRewritesDeferred(bool deferred);
  static bool RewritesDeferred();
  // Rewrites every table with changes waiting. All are tried; the first
  // failure is raised (a table whose rewrite failed is failed, see failed()).
  static void ApplyDeferredRewrites();
  // Rewrites the table whose data file the path names when changes wait
  // for it; nothing otherwise.
  static void ApplyDeferredRewriteOf(const std::string& kdt_path);
  // Tables whose changes wait (during ApplyDeferredRewrites(), those not
  // rewritten yet).
  static std::size_t DeferredRewritesWaiting();
  bool has_deferred_change() const { return pending_ != nullptr; }
  // Rewrites this table now when changes are waiting for it.
  void ApplyDeferredChange();
  // True when no other process has the table open (the caller's handles
  // being the only ones here is checked by the caller).
  bool SoleUser();
  bool held_exclusive() const { return exclusive_; }
  // After a rewrite failed past its commit marker, the files on disk are
  // no longer the ones this object holds: it answers DBE_TABLE_FAILED until
  // it is released, and the next Acquire finishes the switch.
  bool failed() const { return failed_; }
  void RequireUsable() const;

 private:
  TableFile() = default;
  void Load();
  void ValidateHeader();
  // Index persistence (index_file.cc): the tag definitions and the saved
  // entries of the index file.
  void LoadIndexDefs();
  void LoadSnapshot(const crypto::Key* key);
  void SaveIndexFile(bool with_entries);
  void EnsureMapped(uint64_t end);
  void Grow(uint64_t needed);
  uint8_t* Slot(uint32_t recno);
  uint8_t* Header() const { return map_.data(); }
  // The header's counts in force, and the write of changed ones with the
  // change counter raised (storage/header_counts.h).
  HeaderCounts Counts() const { return CurrentCounts(Header(), version_); }
  void Publish(HeaderCounts counts);
  // Plain tables of format version 2 carry a checksum after each row.
  bool rows_checked() const { return version_ >= format::kTableVersion && !encrypted(); }
  // Raises DBE_DAMAGED_FILE when the row in `slot` fails its checksum.
  void VerifyRow(uint32_t recno, const uint8_t* slot) const;
  // Marks a row live or deleted, its checksum checked and renewed.
  void SetRowState(uint32_t recno, uint8_t state);
  void WriteStaticHeader();
  // Owes the table's folder a flush at the next barrier when flushes are
  // grouped: rows and headers written through the mapping have no flush of
  // their own.
  void NoteWrittenInPlace();
  void OpenMemo(bool create);
  uint64_t WriteBlob(const std::string& value, uint64_t old_offset, const crypto::Key* key);
  void ApplyBlobs(uint8_t* rec, const uint8_t* old_rec, const PendingBlobs& blobs, const crypto::Key* key);
  void StampAuto(uint8_t* rec, bool is_new, HeaderCounts& counts);
  void CheckUnique(const uint8_t* rec, uint32_t recno);
  void IndexInsert(const uint8_t* rec, uint32_t recno);
  void IndexErase(const uint8_t* rec, uint32_t recno);
  void WriteSlot(uint32_t recno, const uint8_t* rec, const crypto::Key* key);
  void RequireKey(const crypto::Key* key) const;
  void RequireWritable() const;
  // The commit protocol (table_commit.cc): finishes or discards a rewrite
  // that an earlier run left half done, and switches to rebuilt files.
  void Recover();
  void CommitRebuild(os::File out, bool has_memo, bool keep_backup);
  // Links the table's files as they are as its .BAK set.
  void MakeBackupSet();
  // Takes the committed data file in place of the old one, here and in the
  // registry of open tables.
  void AdoptRebuilt(os::File data);
  // Puts the table in the failed state (see failed()).
  void MarkFailed();
  // Whole-table rewrites need the table to themselves: this handle the only
  // one of the process and no other process holding the table open. The
  // open lock taken for that is made shared again when the guard ends,
  // unless the handle was opened exclusively.
  class SoleUse {
   public:
    explicit SoleUse(TableFile* t) : t_(t) {}
    ~SoleUse();
    SoleUse(const SoleUse&) = delete;
    SoleUse& operator=(const SoleUse&) = delete;

   private:
    TableFile* t_;
  };
  // Raises DBE_NEEDS_EXCLUSIVE with the refusal's text when the table is
  // not free.
  [[nodiscard]] SoleUse ClaimSoleUse(const std::string& refusal);
  std::string BuildHeader(const Layout& layout, uint32_t flags, const crypto::KdfParams* kdf,
                          const uint8_t* check, const std::array<uint8_t, 16>* key_owner) const;
  static std::string NewHeader(const Layout& layout, uint32_t flags, const std::array<uint8_t, 16>& id);

  class WriteGuard;
  friend class WriteGuard;

  // Deferred rewrites (deferred_rewrite.cc).
  struct Pending;
  struct RebuildPlan;
  // The change as asked for; false when the change cannot wait (then it is
  // made at once, after any change already waiting).
  bool DeferRestructure(const Layout& new_layout, const std::vector<int>& source,
                        std::vector<std::shared_ptr<IndexTag>> new_tags, const crypto::Key* key);
  bool DeferRewrite(Rewrite kind, const crypto::Key* key, const std::shared_ptr<const crypto::Key>& new_key,
                    const crypto::KdfParams& kdf, const std::array<uint8_t, crypto::kCheckSealedSize>& check,
                    const std::array<uint8_t, 16>& key_owner, bool dict_keyed);
  void BeginPending(const crypto::Key* disk_key);
  // Deleted rows as the table shows them (none once a pack is waiting).
  uint32_t shown_deleted() const;
  // A plan without steps whose new files describe the table as it stands
  // (as shown, when changes wait): its fields, tags and encryption.
  RebuildPlan PlanAsItStands() const;
  // Builds the new files from the rows on disk through the plan's steps and
  // switches to them.
  void Rebuild(const RebuildPlan& plan);
  // Whether the rebuild would write back every row of the files exactly as
  // they hold it (a column widened and narrowed back): then there is
  // nothing to write. Reads the rows only when the steps can give them back.
  bool RebuildKeepsEveryRow(const RebuildPlan& plan);
  // Closes the files of a table no handle holds.
  void CloseFiles();
  std::unique_ptr<Pending> pending_;

  TablePaths paths_;
  os::File data_;
  os::Mapping map_;
  os::File memo_;
  Layout layout_;
  uint32_t version_ = 0;
  uint32_t header_size_ = 0;
  uint32_t slot_size_ = 0;
  uint32_t flags_ = 0;
  std::array<uint8_t, 16> table_id_{};
  crypto::KdfParams kdf_;
  std::array<uint8_t, crypto::kCheckSealedSize> check_{};
  std::array<uint8_t, 16> key_owner_{};  // dictionary id of a dictionary-keyed table
  bool exclusive_ = false;
  bool failed_ = false;
  bool index_file_optional_ = false;
  int handles_ = 0;
  uint64_t dev_ = 0, ino_ = 0;

  std::vector<std::shared_ptr<IndexTag>> tags_;
  bool indexes_built_ = false;
  uint64_t index_counter_ = 0;   // change counter the built entries reflect
  uint64_t sync_noted_period_ = 0;  // see NoteWrittenInPlace
  bool index_dirty_ = false;     // entries differ from the saved snapshot
  bool snapshot_valid_ = false;  // the index file holds entries for index_counter_
  uint64_t snapshot_stamp_ = 0;
  uint64_t snapshot_offset_ = 0;
  std::string index_file_bytes_;  // the index file read by the open, until its snapshot is loaded
  std::optional<crypto::Key> index_key_;  // an encrypted table's key, to seal its saved entries

  std::map<uint32_t, uint64_t> record_locks_;  // recno -> owner
};

// Raises DBE_DAMAGED_FILE naming the file and what is wrong with it.
[[noreturn]] void Damaged(const std::string& file, const std::string& why);
// The folder of a path with its closing "/" (empty for a bare name), and
// the bare name.
std::string DirOf(const std::string& path);
std::string BaseOf(const std::string& path);
// Bytes a row takes in the data file of a new table.
uint32_t SlotSizeFor(uint32_t record_length, bool encrypted);

// File-format constants shared with the documentation (docs/format.md).
namespace format {
constexpr char kTableMagic[8] = {'K', 'X', '8', 'T', 'A', 'B', 'L', 0x1A};
constexpr char kMemoMagic[8] = {'K', 'X', '8', 'M', 'E', 'M', 'O', 0x1A};
constexpr char kIndexMagic[8] = {'K', 'X', '8', 'I', 'N', 'D', 'X', 0x1A};
// The memo and index files' format version (the data file's is in
// storage/header_counts.h).
constexpr uint32_t kVersion = 1;
// A plain row of format version 2 is followed by its CRC-32C.
constexpr uint32_t kRowChecksumSize = 4;
constexpr uint32_t kHeaderFixed = 512;
constexpr uint32_t kFieldDescSize = 96;
constexpr uint32_t kFlagIndexFile = 1, kFlagMemoFile = 2, kFlagEncrypted = 4;
// Encrypted with the key of the data dictionary whose id is in the header.
constexpr uint32_t kFlagDictionaryKey = 8;
constexpr uint32_t kMemoHeader = 64;
constexpr uint32_t kMemoAlign = 16;
// Byte-range lock offsets (far beyond any data).
constexpr uint64_t kLockOpen = 1ull << 40;
constexpr uint64_t kLockHeader = (1ull << 40) + 1;
constexpr uint64_t kLockRecordBase = 1ull << 41;
}  // namespace format

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_TABLE_FILE_H_
