#include "storage/table_file.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "core/date.h"
#include "core/error.h"
#include "core/text.h"
#include "os/sync_group.h"
#include "storage/rebuild.h"
#include "storage/rebuild_writer.h"
#include "storage/rewrite_totals.h"
#include "dbe/dbe.h"
#include "storage/bytes.h"
#include "storage/checksum.h"
#include "storage/record_codec.h"

namespace dbe {

using namespace format;

namespace {

// Header offsets (docs/format.md).
constexpr size_t kOffVersion = 8, kOffHeaderSize = 12, kOffFieldCount = 16, kOffRecordLength = 20,
                 kOffSlotSize = 24, kOffFlags = 28, kOffTableId = 32, kOffDigest = 48, kOffSalt = 64,
                 kOffOps = 80, kOffMem = 88, kOffCheck = 96;
constexpr size_t kOffKeyOwner = 152;
constexpr size_t kStaticEnd = 256;

std::mutex g_registry_mu;
std::map<std::pair<uint64_t, uint64_t>, std::weak_ptr<TableFile>>& Registry() {
  static auto* r = new std::map<std::pair<uint64_t, uint64_t>, std::weak_ptr<TableFile>>();
  return *r;
}

// Bytes 256-511 (the counts) are not part of the digest: they change with
// every write and carry checks of their own (version 2).
uint64_t HeaderDigest(const uint8_t* h, uint32_t header_size) {
  std::string buf(reinterpret_cast<const char*>(h), kOffDigest);
  buf.append(reinterpret_cast<const char*>(h) + kOffDigest + 8, kStaticEnd - kOffDigest - 8);
  buf.append(reinterpret_cast<const char*>(h) + kHeaderFixed, header_size - kHeaderFixed);
  return crypto::Digest64(reinterpret_cast<const uint8_t*>(buf.data()), buf.size());
}

uint64_t RoundUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

[[noreturn]] void RowFailsCheck(const std::string& file, uint32_t recno) {
  Damaged(file, "row " + std::to_string(recno) + " fails its checksum");
}

}  // namespace

void Damaged(const std::string& file, const std::string& why) {
  Fail(DBE_DAMAGED_FILE, "Error 5052: The table file is damaged or not a table file (" + why + "). File: " + file);
}

uint32_t SlotSizeFor(uint32_t record_length, bool encrypted) {
  return encrypted ? record_length + static_cast<uint32_t>(crypto::kOverhead) : record_length + kRowChecksumSize;
}

std::string DirOf(const std::string& path) {
  auto s = path.find_last_of('/');
  return s == std::string::npos ? std::string() : path.substr(0, s + 1);
}

std::string BaseOf(const std::string& path) {
  auto s = path.find_last_of('/');
  return s == std::string::npos ? path : path.substr(s + 1);
}

TablePaths TablePaths::For(const std::string& kdt_path) {
  TablePaths p;
  p.kdt = kdt_path;
  std::string base = BaseOf(kdt_path);
  std::string upper = Upper(base);
  size_t at = upper.rfind(".KDT");
  std::string dir = DirOf(kdt_path);
  if (at == std::string::npos) {
    p.kdi = kdt_path + ".KDI";
    p.kdm = kdt_path + ".KDM";
    return p;
  }
  auto companion = [&](char c) {
    std::string name = base;
    bool lower = base[at + 1] == 'k';
    name[at + 3] = lower ? AsciiLower(c) : c;
    return dir + name;
  };
  p.kdi = companion('I');
  p.kdm = companion('M');
  return p;
}

// Holds the header lock while a row is written, so that writers in other
// processes take turns, and notices their changes.
class TableFile::WriteGuard {
 public:
  explicit WriteGuard(TableFile* t) : t_(t) {
    t_->ApplyDeferredChange();  // before the lock: the rewrite replaces the data file
    t_->RequireWritable();
    if (!t_->exclusive_) t_->data_.LockWait(kLockHeader, true, "The table");
    if (t_->indexes_built_ && t_->index_counter_ != t_->change_counter()) t_->indexes_built_ = false;
    t_->EnsureMapped(0);
  }
  ~WriteGuard() {
    if (!t_->exclusive_) t_->data_.Unlock(kLockHeader);
  }

 private:
  TableFile* t_;
};

TableFile::~TableFile() = default;

std::shared_ptr<TableFile> TableFile::Acquire(const std::string& kdt_path, bool exclusive, bool index_file_optional) {
  std::lock_guard<std::mutex> lock(g_registry_mu);
  os::File f;
  try {
    f = os::File::OpenExisting(kdt_path);
  } catch (const Error& e) {
    if (e.code() == DBE_FILE_NOT_FOUND) {
      Fail(DBE_FILE_NOT_FOUND, "Error 5041: The table file was not found. File: " + kdt_path);
    }
    throw;
  }
  uint64_t dev, ino;
  f.Identity(&dev, &ino);
  auto& reg = Registry();
  auto it = reg.find({dev, ino});
  if (it != reg.end()) {
    if (auto tf = it->second.lock()) {
      if ((exclusive && tf->handles_ > 0) || tf->exclusive_) {
        Fail(DBE_TABLE_IN_USE, "Error 5042: The table is in use; it cannot be opened " +
                                   std::string(exclusive ? "exclusively" : "while it is open exclusively") +
                                   ". File: " + kdt_path);
      }
      // A table whose rewrite is deferred stays open without handles.
      if (tf->handles_ == 0 && exclusive) {
        if (!tf->data_.TryLock(kLockOpen, true)) {
          Fail(DBE_TABLE_IN_USE, "Error 5042: The table is in use by another program. File: " + kdt_path);
        }
        tf->exclusive_ = true;
      }
      ++tf->handles_;
      return tf;
    }
  }
  if (exclusive && !f.writable()) {
    Fail(DBE_READ_ONLY, "Error 5063: The table file may not be written, so it cannot be opened exclusively. File: " +
                            kdt_path);
  }
  std::shared_ptr<TableFile> tf(new TableFile());
  tf->paths_ = TablePaths::For(kdt_path);
  tf->data_ = std::move(f);
  if (!tf->data_.TryLock(kLockOpen, exclusive)) {
    Fail(DBE_TABLE_IN_USE, "Error 5042: The table is in use by another program. File: " + kdt_path);
  }
  tf->exclusive_ = exclusive;
  tf->index_file_optional_ = index_file_optional;
  tf->Recover();
  tf->Load();
  tf->index_file_optional_ = false;
  tf->data_.Identity(&tf->dev_, &tf->ino_);
  tf->handles_ = 1;
  reg[{tf->dev_, tf->ino_}] = tf;
  return tf;
}

bool TableFile::FilesShowTable(uint64_t dev, uint64_t ino, const TableFile* held) {
  std::lock_guard<std::mutex> lock(g_registry_mu);
  auto& reg = Registry();
  auto it = reg.find({dev, ino});
  std::shared_ptr<TableFile> tf = it == reg.end() ? nullptr : it->second.lock();
  if (held != nullptr && tf.get() != held) return false;
  return tf == nullptr || (tf->pending_ == nullptr && !tf->failed_ && !tf->exclusive_);
}

void TableFile::Release(bool exclusive) {
  (void)exclusive;
  std::lock_guard<std::mutex> lock(g_registry_mu);
  if (--handles_ > 0) return;
  if (pending_) {
    // Kept open for the deferred rewrite; others may open it as when it is
    // open shared (ApplyDeferredRewrites closes it).
    if (exclusive_) data_.TryLock(kLockOpen, false);
    exclusive_ = false;
    return;
  }
  // A failed table's files are no longer its own: nothing is written.
  if (!failed_) try {
    if (index_dirty_ && indexes_built_ && (!encrypted() || index_key_.has_value()) && data_.writable() &&
        index_counter_ == change_counter() && SoleUser()) {
      SaveIndexFile(true);
    }
    if (data_.writable() && SoleUser()) {
      uint64_t exact = header_size_ + uint64_t(record_count()) * slot_size_;
      if (data_.Size() > exact) {
        map_.Unmap();
        data_.Truncate(exact);
      }
    }
  } catch (const Error&) {
    // Closing never fails: an unsaved index snapshot is rebuilt on the next open.
  }
  map_.Unmap();
  data_.Close();
  memo_.Close();
  index_file_bytes_ = std::string();
  auto& reg = Registry();
  auto it = reg.find({dev_, ino_});
  if (it != reg.end() && it->second.expired()) reg.erase(it);
  exclusive_ = false;
}

void TableFile::CloseFiles() {
  std::lock_guard<std::mutex> lock(g_registry_mu);
  map_.Unmap();
  data_.Close();
  memo_.Close();
  auto& reg = Registry();
  auto it = reg.find({dev_, ino_});
  if (it != reg.end() && it->second.lock().get() == this) reg.erase(it);
  exclusive_ = false;
}

void TableFile::Load() {
  map_.Map(data_, data_.Size());
  ValidateHeader();
  memo_.Close();
  if (flags_ & kFlagMemoFile) OpenMemo(false);
  LoadIndexDefs();
  index_key_.reset();
  indexes_built_ = false;
}

void TableFile::ValidateHeader() {
  const std::string& file = paths_.kdt;
  uint64_t size = map_.size();
  if (size < kHeaderFixed) Damaged(file, size == 0 ? "the file is empty" : "the header is cut short");
  const uint8_t* h = map_.data();
  if (std::memcmp(h, kTableMagic, 8) != 0) Damaged(file, "unknown file signature");
  version_ = GetU32(h + kOffVersion);
  if (version_ != kTableVersion1 && version_ != kTableVersion) {
    Fail(DBE_UNSUPPORTED_TABLE_TYPE, "Error 5053: The table file has an unsupported format version " +
                                         std::to_string(version_) + ". File: " + file);
  }
  uint32_t nfields = GetU32(h + kOffFieldCount);
  header_size_ = GetU32(h + kOffHeaderSize);
  if (nfields == 0 || nfields > kMaxFields) Damaged(file, "impossible field count");
  if (header_size_ != kHeaderFixed + nfields * kFieldDescSize) Damaged(file, "inconsistent header size");
  if (header_size_ > size) Damaged(file, "the field descriptors are cut short");
  if (GetU64(h + kOffDigest) != HeaderDigest(h, header_size_)) Damaged(file, "header checksum mismatch");
  flags_ = GetU32(h + kOffFlags);
  if (flags_ & ~(kFlagIndexFile | kFlagMemoFile | kFlagEncrypted | kFlagDictionaryKey)) {
    Damaged(file, "unknown header flags");
  }
  if ((flags_ & kFlagDictionaryKey) && !(flags_ & kFlagEncrypted)) Damaged(file, "inconsistent encryption flags");
  std::memcpy(table_id_.data(), h + kOffTableId, 16);
  Layout layout;
  for (uint32_t i = 0; i < nfields; ++i) {
    const uint8_t* d = h + kHeaderFixed + i * kFieldDescSize;
    size_t name_len = strnlen(reinterpret_cast<const char*>(d), 64);
    if (name_len == 0 || name_len > kMaxFieldName) Damaged(file, "bad field name");
    Field f;
    f.name.assign(reinterpret_cast<const char*>(d), name_len);
    f.type = GetU16(d + 64);
    f.decimals = GetU16(d + 66);
    f.length = GetU32(d + 68);
    if (!IsKnownFieldType(f.type)) {
      Fail(DBE_UNSUPPORTED_FIELD_TYPE, "Error 5054: The table has a field of unsupported type " +
                                           std::to_string(f.type) + ". File: " + file);
    }
    bool sized = IsCharType(f.type) || f.type == DBE_FT_RAW || f.type == DBE_FT_NUMERIC;
    if (sized && (f.length == 0 || f.length > kMaxCharLength)) Damaged(file, "bad field length");
    if (!sized) f.length = 0;
    if (layout.Find(f.name) >= 0) Damaged(file, "a field is named twice");
    layout.fields.push_back(f);
  }
  layout.Finish();
  for (uint32_t i = 0; i < nfields; ++i) {
    const uint8_t* d = h + kHeaderFixed + i * kFieldDescSize;
    if (GetU32(d + 72) != layout.fields[i].offset || GetU32(d + 76) != layout.fields[i].width) {
      Damaged(file, "inconsistent field offsets");
    }
  }
  if (GetU32(h + kOffRecordLength) != layout.record_length) Damaged(file, "inconsistent record length");
  slot_size_ = GetU32(h + kOffSlotSize);
  const uint32_t expected_slot = version_ == kTableVersion1 && !(flags_ & kFlagEncrypted)
                                     ? layout.record_length
                                     : SlotSizeFor(layout.record_length, flags_ & kFlagEncrypted);
  if (slot_size_ != expected_slot) {
    Damaged(file, "inconsistent record slot size");
  }
  if (flags_ & kFlagEncrypted) {
    std::memcpy(kdf_.salt.data(), h + kOffSalt, crypto::kSaltSize);
    kdf_.ops = GetU64(h + kOffOps);
    kdf_.mem = GetU64(h + kOffMem);
    if (!(flags_ & kFlagDictionaryKey) && !crypto::ValidParams(kdf_)) Damaged(file, "bad key derivation parameters");
    std::memcpy(check_.data(), h + kOffCheck, check_.size());
    std::memcpy(key_owner_.data(), h + kOffKeyOwner, 16);
  }
  if (layout.HasBlobs() != bool(flags_ & kFlagMemoFile)) Damaged(file, "memo flag does not match the fields");
  std::string counts_problem = CheckCounts(h, version_, table_id_.data());
  if (!counts_problem.empty() && !exclusive_) {
    // Another process may be writing the counts this moment: look again
    // while no writer can.
    data_.LockWait(kLockHeader, false, "The table");
    counts_problem = CheckCounts(h, version_, table_id_.data());
    data_.Unlock(kLockHeader);
  }
  if (!counts_problem.empty()) Damaged(file, counts_problem);
  const HeaderCounts counts = CurrentCounts(h, version_);
  if (header_size_ + uint64_t(counts.rows) * slot_size_ > size) Damaged(file, "the rows are cut short");
  if (counts.deleted > counts.rows) Damaged(file, "inconsistent deleted-row count");
  layout_ = std::move(layout);
}

void TableFile::OpenMemo(bool create) {
  const std::string& file = paths_.kdm;
  if (create) {
    memo_ = os::File::Create(file);
    uint8_t h[kMemoHeader] = {};
    std::memcpy(h, kMemoMagic, 8);
    PutU32(h + 8, kVersion);
    PutU64(h + 16, kMemoHeader);
    std::memcpy(h + 24, table_id_.data(), 16);
    memo_.WriteAt(0, h, sizeof h);
    return;
  }
  try {
    memo_ = os::File::OpenExisting(file);
  } catch (const Error& e) {
    if (e.code() == DBE_FILE_NOT_FOUND) {
      Fail(DBE_FILE_NOT_FOUND, "Error 5041: The memo file of the table was not found. File: " + file);
    }
    throw;
  }
  uint8_t h[kMemoHeader];
  if (memo_.Size() < kMemoHeader) Damaged(file, "the memo header is cut short");
  memo_.ReadAt(0, h, sizeof h);
  if (std::memcmp(h, kMemoMagic, 8) != 0 || GetU32(h + 8) != kVersion) Damaged(file, "unknown memo signature");
  if (std::memcmp(h + 24, table_id_.data(), 16) != 0) Damaged(file, "the memo file belongs to another table");
  if (GetU64(h + 16) > memo_.Size() || GetU64(h + 16) < kMemoHeader) Damaged(file, "bad memo end");
}

void TableFile::EnsureIndexes(const crypto::Key* key) {
  ApplyDeferredChange();
  if (tags_.empty()) return;
  uint64_t c = change_counter();
  if (indexes_built_ && index_counter_ == c) return;
  if (encrypted()) RequireKey(key);
  if (encrypted()) index_key_ = *key;
  if (snapshot_valid_ && snapshot_stamp_ == c) {
    LoadSnapshot(key);
    if (indexes_built_) return;
  }
  bool locked = !exclusive_ && data_.writable();
  if (locked) data_.LockWait(kLockHeader, true, "The table");
  try {
    EnsureMapped(0);
    c = change_counter();
    uint32_t n = record_count();
    std::vector<std::string> parts(tags_.size());
    for (size_t t = 0; t < tags_.size(); ++t) parts[t].reserve(size_t(n) * tags_[t]->key.entry_width());
    std::vector<uint8_t> rec(layout_.record_length);
    std::vector<uint8_t> entry(4096);
    for (uint32_t r = 1; r <= n; ++r) {
      if (IsDeleted(r)) continue;
      ReadRecord(r, key, rec.data());
      for (size_t t = 0; t < tags_.size(); ++t) {
        uint32_t w = tags_[t]->key.entry_width();
        if (entry.size() < w) entry.resize(w);
        tags_[t]->key.EncodeEntry(layout_, rec.data(), r, entry.data());
        parts[t].append(reinterpret_cast<const char*>(entry.data()), w);
      }
    }
    for (size_t t = 0; t < tags_.size(); ++t) tags_[t]->entries.Build(std::move(parts[t]));
  } catch (...) {
    if (locked) data_.Unlock(kLockHeader);
    throw;
  }
  if (locked) data_.Unlock(kLockHeader);
  indexes_built_ = true;
  index_counter_ = c;
  index_dirty_ = true;
}

std::shared_ptr<IndexTag> TableFile::FindTag(const std::string& name) const {
  for (auto& t : tags_) {
    if (EqualsIgnoreCase(t->name, name)) return t;
  }
  return nullptr;
}

std::shared_ptr<IndexTag> TableFile::CreateIndex(const std::string& name, const std::string& expr,
                                                 uint32_t options, const crypto::Key* key) {
  ApplyDeferredChange();
  RequireWritable();
  if (Trim(name).empty()) {
    Fail(DBE_INVALID_ARGUMENT, "Error 5012: An index tag needs a name. File: " + paths_.kdi);
  }
  if (name.size() > 200) Fail(DBE_INVALID_ARGUMENT, "Error 5012: The index tag name is too long. File: " + paths_.kdi);
  if (FindTag(name)) {
    Fail(DBE_INDEX_EXISTS, "Error 5069: The index tag " + name + " exists already. File: " + paths_.kdi);
  }
  if (handles_ > 1 || !SoleUser()) {
    Fail(DBE_NEEDS_EXCLUSIVE, "Error 5062: An index can only be added while the table is not used by anyone else. File: " +
                                  paths_.kdt);
  }
  auto tag = std::make_shared<IndexTag>();
  tag->name = name;
  tag->expr = expr;
  tag->options = options & (DBE_INDEX_UNIQUE | DBE_INDEX_COMPOUND | DBE_INDEX_DESCENDING);
  tag->key = KeyDef(layout_, expr, options & DBE_INDEX_DESCENDING, paths_.kdt);
  tag->entries = OrderedIndex(tag->key.entry_width());
  EnsureIndexes(key);
  if (encrypted()) RequireKey(key);
  // Build the new tag's entries and check uniqueness before anything is kept.
  std::string entries;
  std::vector<uint8_t> rec(layout_.record_length), entry(tag->key.entry_width());
  uint32_t n = record_count();
  for (uint32_t r = 1; r <= n; ++r) {
    if (IsDeleted(r)) continue;
    ReadRecord(r, key, rec.data());
    tag->key.EncodeEntry(layout_, rec.data(), r, entry.data());
    entries.append(reinterpret_cast<const char*>(entry.data()), entry.size());
  }
  tag->entries.Build(std::move(entries));
  if (tag->unique()) {
    uint32_t kw = tag->key.key_width();
    const uint8_t* prev = nullptr;
    for (auto p = tag->entries.Begin(); !tag->entries.IsEnd(p); tag->entries.Next(&p)) {
      const uint8_t* e = tag->entries.At(p);
      if (prev != nullptr && std::memcmp(prev, e, kw) == 0) {
        Fail(DBE_DUPLICATE_KEY, "Error 5057: The unique index " + name +
                                    " cannot be created: two rows have the same key. File: " + paths_.kdt);
      }
      prev = e;
    }
  }
  bool was_built = indexes_built_ || tags_.empty();
  tags_.push_back(tag);
  indexes_built_ = was_built;
  index_counter_ = change_counter();
  index_dirty_ = true;
  SaveIndexFile(indexes_built_);
  if (!(flags_ & kFlagIndexFile)) {
    flags_ |= kFlagIndexFile;
    WriteStaticHeader();
  }
  return tag;
}

void TableFile::DropIndex(const std::string& name) {
  ApplyDeferredChange();
  RequireWritable();
  auto tag = FindTag(name);
  if (!tag) Fail(DBE_INDEX_NOT_FOUND, "Error 5060: The index tag " + name + " was not found. File: " + paths_.kdi);
  if (handles_ > 1 || !SoleUser()) {
    Fail(DBE_NEEDS_EXCLUSIVE, "Error 5062: An index can only be removed while the table is not used by anyone else. File: " +
                                  paths_.kdt);
  }
  tag->dropped = true;
  tags_.erase(std::find(tags_.begin(), tags_.end(), tag));
  SaveIndexFile(indexes_built_);
}

// --- header and slots ---------------------------------------------------

// Row counts and rows are those of the files: a deferred change is applied
// before they are read.
uint32_t TableFile::record_count() const {
  if (pending_) const_cast<TableFile*>(this)->ApplyDeferredChange();
  return CurrentRows(Header(), version_);
}
uint32_t TableFile::live_count() const {
  if (pending_) const_cast<TableFile*>(this)->ApplyDeferredChange();
  const HeaderCounts c = Counts();
  return c.rows - c.deleted;
}
uint64_t TableFile::change_counter() const {
  if (pending_) const_cast<TableFile*>(this)->ApplyDeferredChange();
  return CurrentCounter(Header(), version_);
}
bool TableFile::encrypted() const { return flags_ & kFlagEncrypted; }

void TableFile::EnsureMapped(uint64_t end) {
  // A slot already mapped needs no look at the counts (the hot path of
  // every read).
  if (end != 0 && end <= map_.size()) return;
  uint64_t need = std::max<uint64_t>(end, header_size_ + uint64_t(record_count()) * slot_size_);
  if (need <= map_.size()) return;
  uint64_t size = data_.Size();
  if (size < need) Damaged(paths_.kdt, "the rows are cut short");
  map_.Map(data_, size);
}

void TableFile::Grow(uint64_t needed) {
  // The mapping covers the whole file as it was when mapped, and files only
  // grow while handles are open: no need to ask the system for the size.
  if (map_.size() >= needed) return;
  uint64_t size = data_.Size();
  if (size >= needed) {
    if (map_.size() < needed) map_.Map(data_, size);
    return;
  }
  uint64_t target = std::max<uint64_t>(needed, size + size / 4 + (1u << 20));
  data_.Truncate(target);
  map_.Map(data_, target);
}

uint8_t* TableFile::Slot(uint32_t recno) {
  uint64_t off = header_size_ + uint64_t(recno - 1) * slot_size_;
  EnsureMapped(off + slot_size_);
  return map_.data() + off;
}

void TableFile::Publish(HeaderCounts counts) {
  const uint64_t c = change_counter();
  counts.counter = c + 1;
  PublishCounts(Header(), version_, counts, table_id_.data());
  NoteWrittenInPlace();
  if (indexes_built_ && index_counter_ == c) {
    index_counter_ = c + 1;
    if (!tags_.empty()) index_dirty_ = true;
  }
}

void TableFile::WriteStaticHeader() {
  uint8_t* h = Header();
  PutU32(h + kOffFlags, flags_);
  PutU64(h + kOffDigest, HeaderDigest(h, header_size_));
  NoteWrittenInPlace();
}

void TableFile::NoteWrittenInPlace() {
  const uint64_t period = os::NotePeriod();
  if (period == 0 || period == sync_noted_period_) return;
  os::DeferSyncOf(paths_.kdt);
  sync_noted_period_ = period;
}

bool TableFile::IsDeleted(uint32_t recno) {
  ApplyDeferredChange();
  const uint8_t* s = Slot(recno);
  if (s[0] != kRowDeleted) return false;
  // A live row is checked when it is read; one that says it is deleted is
  // checked here, as it is skipped without being read.
  if (rows_checked()) VerifyRow(recno, s);
  return true;
}

void TableFile::VerifyRow(uint32_t recno, const uint8_t* slot) const {
  if (GetU32(slot + layout_.record_length) != RowChecksum(recno, slot, layout_.record_length)) {
    RowFailsCheck(paths_.kdt, recno);
  }
}

void TableFile::SetRowState(uint32_t recno, uint8_t state) {
  uint8_t* s = Slot(recno);
  if (rows_checked()) VerifyRow(recno, s);
  s[0] = state;
  if (rows_checked()) PutU32(s + layout_.record_length, RowChecksum(recno, s, layout_.record_length));
}

void TableFile::RequireKey(const crypto::Key* key) const {
  if (key == nullptr) {
    Fail(DBE_PASSWORD_REQUIRED, "Error 5050: The table is encrypted; its password must be given first. File: " +
                                    paths_.kdt);
  }
}

void TableFile::RequireWritable() const {
  if (!data_.writable()) Fail(DBE_READ_ONLY, "Error 5063: The table file may not be written. File: " + paths_.kdt);
}

void TableFile::ReadRecord(uint32_t recno, const crypto::Key* key, uint8_t* out) {
  ApplyDeferredChange();
  if (recno == 0 || recno > record_count()) {
    Fail(DBE_NO_CURRENT_RECORD, "Error 5026: There is no row " + std::to_string(recno) + ". File: " + paths_.kdt);
  }
  const uint8_t* s = Slot(recno);
  const uint32_t length = layout_.record_length;
  if (rows_checked()) {
    // Checked while copied: one pass over the row's bytes. A row that fails
    // is not handed on.
    if (GetU32(s + length) != RowChecksumAndCopy(recno, s, length, out)) {
      std::memset(out, 0, length);
      RowFailsCheck(paths_.kdt, recno);
    }
    return;
  }
  if (!encrypted()) {
    std::memcpy(out, s, length);
    return;
  }
  RequireKey(key);
  out[0] = s[0];
  if (!crypto::Open(*key, table_id_.data(), 16, s + 1, slot_size_ - 1, out + 1)) {
    Damaged(paths_.kdt, "row " + std::to_string(recno) + " cannot be decrypted");
  }
}

void TableFile::ReadRecords(uint32_t first, uint32_t count, const crypto::Key* key, uint8_t* out) {
  ApplyDeferredChange();
  if (count == 0) return;
  if (first == 0 || first - 1 + uint64_t(count) > record_count()) {
    Fail(DBE_NO_CURRENT_RECORD, "Error 5026: There is no row " + std::to_string(first + count - 1) +
                                    ". File: " + paths_.kdt);
  }
  const uint32_t length = layout_.record_length;
  if (!encrypted()) {
    for (uint32_t i = 0; i < count; ++i) ReadRecord(first + i, key, out + size_t(i) * length);
    return;
  }
  RequireKey(key);
  EnsureMapped(header_size_ + (uint64_t(first) - 1 + count) * slot_size_);
  const uint8_t* s = Slot(first);
  for (uint32_t i = 0; i < count; ++i) out[size_t(i) * length] = s[size_t(i) * slot_size_];
  const size_t failed = crypto::OpenMany(*key, table_id_.data(), 16, s + 1, slot_size_, slot_size_ - 1, count,
                                         out + 1, length);
  if (failed < count) Damaged(paths_.kdt, "row " + std::to_string(first + failed) + " cannot be decrypted");
}

void TableFile::WriteSlot(uint32_t recno, const uint8_t* rec, const crypto::Key* key) {
  uint64_t off = header_size_ + uint64_t(recno - 1) * slot_size_;
  Grow(off + slot_size_);
  uint8_t* s = map_.data() + off;
  if (!encrypted()) {
    std::memcpy(s, rec, layout_.record_length);
    if (rows_checked()) PutU32(s + layout_.record_length, RowChecksum(recno, rec, layout_.record_length));
    return;
  }
  RequireKey(key);
  crypto::Seal(*key, table_id_.data(), 16, rec + 1, layout_.record_length - 1, s + 1);
  s[0] = rec[0];
}

// --- blobs --------------------------------------------------------------

uint32_t TableFile::BlobLength(const uint8_t* rec, uint32_t field) {
  ApplyDeferredChange();
  if (IsNullBit(rec, field)) return 0;
  return GetU32(rec + layout_.fields[field].offset + 8);
}

std::string TableFile::ReadBlob(const uint8_t* rec, uint32_t field, const crypto::Key* key) {
  ApplyDeferredChange();
  if (IsNullBit(rec, field)) return {};
  const uint8_t* ref = rec + layout_.fields[field].offset;
  uint64_t off = GetU64(ref);
  uint32_t len = GetU32(ref + 8);
  uint64_t stored = encrypted() ? uint64_t(len) + crypto::kOverhead : len;
  uint64_t memo_size = memo_.is_open() ? memo_.Size() : 0;
  if (off < kMemoHeader || off + 4 + stored > memo_size) {
    Damaged(paths_.kdm, "a memo reference points outside the memo file");
  }
  uint8_t cap_bytes[4];
  memo_.ReadAt(off, cap_bytes, 4);
  if (GetU32(cap_bytes) < stored) Damaged(paths_.kdm, "a memo value is larger than its space");
  std::string data(stored, '\0');
  memo_.ReadAt(off + 4, data.data(), stored);
  if (!encrypted()) return data;
  RequireKey(key);
  std::string plain(len, '\0');
  if (!crypto::Open(*key, table_id_.data(), 16, reinterpret_cast<const uint8_t*>(data.data()), stored,
                    reinterpret_cast<uint8_t*>(plain.data()))) {
    Damaged(paths_.kdm, "a memo value cannot be decrypted");
  }
  return plain;
}

uint64_t TableFile::WriteBlob(const std::string& value, uint64_t old_offset, const crypto::Key* key) {
  std::string stored;
  if (encrypted()) {
    RequireKey(key);
    stored.resize(value.size() + crypto::kOverhead);
    crypto::Seal(*key, table_id_.data(), 16, reinterpret_cast<const uint8_t*>(value.data()), value.size(),
                 reinterpret_cast<uint8_t*>(stored.data()));
  } else {
    stored = value;
  }
  if (old_offset >= kMemoHeader) {
    uint8_t cap_bytes[4];
    memo_.ReadAt(old_offset, cap_bytes, 4);
    if (GetU32(cap_bytes) >= stored.size()) {
      memo_.WriteAt(old_offset + 4, stored.data(), stored.size());
      return old_offset;
    }
  }
  uint8_t h[8];
  memo_.ReadAt(16, h, 8);
  uint64_t end = GetU64(h);
  uint32_t cap = static_cast<uint32_t>(RoundUp(stored.size(), kMemoAlign));
  std::string block(4 + cap, '\0');
  PutU32(reinterpret_cast<uint8_t*>(block.data()), cap);
  std::memcpy(block.data() + 4, stored.data(), stored.size());
  memo_.WriteAt(end, block.data(), block.size());
  PutU64(h, end + block.size());
  memo_.WriteAt(16, h, 8);
  return end;
}

void TableFile::ApplyBlobs(uint8_t* rec, const uint8_t* old_rec, const PendingBlobs& blobs,
                           const crypto::Key* key) {
  for (const auto& [field, value] : blobs) {
    const Field& f = layout_.fields[field];
    uint8_t* ref = rec + f.offset;
    if (!value || value->empty()) {
      std::memset(ref, 0, kMemoRefSize);
      SetNullBit(rec, field, true);
      continue;
    }
    uint64_t old_offset = 0;
    if (old_rec != nullptr && !IsNullBit(old_rec, field)) old_offset = GetU64(old_rec + f.offset);
    if (!memo_.is_open()) OpenMemo(!os::PathExists(paths_.kdm));
    uint64_t off = WriteBlob(*value, old_offset, key);
    PutU64(ref, off);
    PutU32(ref + 8, static_cast<uint32_t>(value->size()));
    SetNullBit(rec, field, false);
  }
}

// --- row changes ----------------------------------------------------------

void TableFile::StampAuto(uint8_t* rec, bool is_new, HeaderCounts& counts) {
  for (uint32_t i = 0; i < layout_.fields.size(); ++i) {
    const Field& f = layout_.fields[i];
    uint8_t* p = rec + f.offset;
    switch (f.type) {
      case DBE_FT_AUTOINC:
        if (is_new) {
          uint32_t next = std::max<uint32_t>(counts.next_autoinc, 1);
          uint32_t v = IsNullBit(rec, i) ? next : GetU32(p);
          PutU32(p, v);
          SetNullBit(rec, i, false);
          if (v >= next) counts.next_autoinc = v + 1;
        }
        break;
      case DBE_FT_ROWVERSION: {
        uint64_t v = ++counts.row_version;
        PutU64(p, v);
        SetNullBit(rec, i, false);
        break;
      }
      case DBE_FT_MODTIME:
        PutI64(p, NowTimestamp());
        SetNullBit(rec, i, false);
        break;
      default:
        break;
    }
  }
}

void TableFile::CheckUnique(const uint8_t* rec, uint32_t recno) {
  std::vector<uint8_t> entry;
  for (auto& tag : tags_) {
    if (!tag->unique()) continue;
    entry.resize(tag->key.entry_width());
    tag->key.EncodeEntry(layout_, rec, recno, entry.data());
    uint32_t kw = tag->key.key_width();
    std::string_view key(reinterpret_cast<const char*>(entry.data()), kw);
    for (auto p = tag->entries.LowerBound(key); !tag->entries.IsEnd(p); tag->entries.Next(&p)) {
      const uint8_t* e = tag->entries.At(p);
      if (std::memcmp(e, entry.data(), kw) != 0) break;
      if (EntryRecno(e, kw) != recno) {
        Fail(DBE_DUPLICATE_KEY, "Error 5057: The row would duplicate a key of the unique index " + tag->name +
                                    ". File: " + paths_.kdt);
      }
    }
  }
}

void TableFile::IndexInsert(const uint8_t* rec, uint32_t recno) {
  std::vector<uint8_t> entry;
  for (auto& tag : tags_) {
    entry.resize(tag->key.entry_width());
    tag->key.EncodeEntry(layout_, rec, recno, entry.data());
    tag->entries.Insert(entry.data());
  }
}

void TableFile::IndexErase(const uint8_t* rec, uint32_t recno) {
  std::vector<uint8_t> entry;
  for (auto& tag : tags_) {
    entry.resize(tag->key.entry_width());
    tag->key.EncodeEntry(layout_, rec, recno, entry.data());
    tag->entries.Erase(entry.data());
  }
}

uint32_t TableFile::Append(uint8_t* rec, const PendingBlobs& blobs, const crypto::Key* key) {
  WriteGuard guard(this);
  if (encrypted()) RequireKey(key);
  EnsureIndexes(key);
  HeaderCounts counts = Counts();
  if (counts.rows == UINT32_MAX) Fail(DBE_INVALID_ARGUMENT, "Error 5012: The table is full. File: " + paths_.kdt);
  uint32_t recno = counts.rows + 1;
  rec[0] = kRowActive;
  StampAuto(rec, true, counts);
  CheckUnique(rec, recno);
  ApplyBlobs(rec, nullptr, blobs, key);
  WriteSlot(recno, rec, key);
  counts.rows = recno;
  Publish(counts);
  if (indexes_built_) IndexInsert(rec, recno);
  return recno;
}

void TableFile::Update(uint32_t recno, uint8_t* rec, const PendingBlobs& blobs, const crypto::Key* key) {
  WriteGuard guard(this);
  if (encrypted()) RequireKey(key);
  EnsureIndexes(key);
  std::vector<uint8_t> old(layout_.record_length);
  ReadRecord(recno, key, old.data());
  rec[0] = old[0];
  // Autoinc values never change once given.
  for (uint32_t i = 0; i < layout_.fields.size(); ++i) {
    const Field& f = layout_.fields[i];
    if (f.type == DBE_FT_AUTOINC) {
      std::memcpy(rec + f.offset, old.data() + f.offset, f.width);
      SetNullBit(rec, i, IsNullBit(old.data(), i));
    }
  }
  HeaderCounts counts = Counts();
  StampAuto(rec, false, counts);
  // A row written back as it is changes nothing: no write and no new change
  // count, so the saved index entries stay current and are not saved again.
  // (The upgrade writes back thousands of rows that already hold its values.)
  if (blobs.empty() && std::memcmp(rec, old.data(), layout_.record_length) == 0) return;
  bool live = old[0] != kRowDeleted;
  // Only the tags whose key the change touches are checked and maintained.
  std::vector<IndexTag*> changed;
  std::vector<std::string> old_entries, new_entries;
  if (live) {
    for (auto& tag : tags_) {
      std::string a(tag->key.entry_width(), '\0'), b(tag->key.entry_width(), '\0');
      tag->key.EncodeEntry(layout_, old.data(), recno, reinterpret_cast<uint8_t*>(a.data()));
      tag->key.EncodeEntry(layout_, rec, recno, reinterpret_cast<uint8_t*>(b.data()));
      if (a == b) continue;
      changed.push_back(tag.get());
      old_entries.push_back(std::move(a));
      new_entries.push_back(std::move(b));
    }
    if (!changed.empty()) CheckUnique(rec, recno);
  }
  ApplyBlobs(rec, old.data(), blobs, key);
  WriteSlot(recno, rec, key);
  Publish(counts);
  if (indexes_built_) {
    for (size_t i = 0; i < changed.size(); ++i) {
      changed[i]->entries.Erase(reinterpret_cast<const uint8_t*>(old_entries[i].data()));
      changed[i]->entries.Insert(reinterpret_cast<const uint8_t*>(new_entries[i].data()));
    }
  }
}

void TableFile::Delete(uint32_t recno, const crypto::Key* key) {
  WriteGuard guard(this);
  if (IsDeleted(recno)) return;
  std::vector<uint8_t> old;
  if (!tags_.empty()) {
    EnsureIndexes(key);
    old.resize(layout_.record_length);
    ReadRecord(recno, key, old.data());
  }
  SetRowState(recno, kRowDeleted);
  HeaderCounts counts = Counts();
  ++counts.deleted;
  Publish(counts);
  if (indexes_built_ && !old.empty()) IndexErase(old.data(), recno);
}

void TableFile::Recall(uint32_t recno, const crypto::Key* key) {
  WriteGuard guard(this);
  if (!IsDeleted(recno)) return;
  std::vector<uint8_t> rec;
  if (!tags_.empty()) {
    EnsureIndexes(key);
    rec.resize(layout_.record_length);
    ReadRecord(recno, key, rec.data());
    CheckUnique(rec.data(), recno);
  }
  SetRowState(recno, kRowActive);
  HeaderCounts counts = Counts();
  --counts.deleted;
  Publish(counts);
  if (indexes_built_ && !rec.empty()) IndexInsert(rec.data(), recno);
}

// --- record locks ---------------------------------------------------------

bool TableFile::LockRecord(uint32_t recno, uint64_t owner) {
  ApplyDeferredChange();
  auto it = record_locks_.find(recno);
  if (it != record_locks_.end()) return it->second == owner;
  if (!exclusive_ && data_.writable() && !data_.TryLock(kLockRecordBase + recno, true)) return false;
  record_locks_[recno] = owner;
  return true;
}

void TableFile::UnlockRecord(uint32_t recno, uint64_t owner) {
  auto it = record_locks_.find(recno);
  if (it == record_locks_.end() || it->second != owner) return;
  record_locks_.erase(it);
  if (!exclusive_ && data_.writable()) data_.Unlock(kLockRecordBase + recno);
}

void TableFile::UnlockAll(uint64_t owner) {
  for (auto it = record_locks_.begin(); it != record_locks_.end();) {
    if (it->second == owner) {
      if (!exclusive_ && data_.writable()) data_.Unlock(kLockRecordBase + it->first);
      it = record_locks_.erase(it);
    } else {
      ++it;
    }
  }
}

bool TableFile::IsLockedByOther(uint32_t recno, uint64_t owner) const {
  auto it = record_locks_.find(recno);
  return it != record_locks_.end() && it->second != owner;
}

// --- encryption ---------------------------------------------------------

std::shared_ptr<const crypto::Key> TableFile::KeyForPassword(const std::string& password) {
  if (dictionary_keyed()) {
    Fail(DBE_WRONG_PASSWORD, "Error 5051: The table is encrypted with the key of a data dictionary; open it through "
                             "its dictionary. File: " + paths_.kdt);
  }
  auto key = crypto::DeriveKey(password, kdf_);
  if (!crypto::VerifyCheck(*key, table_id_.data(), 16, check_.data())) {
    Fail(DBE_WRONG_PASSWORD, "Error 5051: The password of the encrypted table is wrong. File: " + paths_.kdt);
  }
  return key;
}

bool TableFile::dictionary_keyed() const { return flags_ & kFlagDictionaryKey; }

std::shared_ptr<const crypto::Key> TableFile::KeyFromDictionary(const std::array<uint8_t, 16>& dictionary_id,
                                                                const std::shared_ptr<const crypto::Key>& key) {
  if (!dictionary_keyed() || dictionary_id != key_owner_ ||
      !crypto::VerifyCheck(*key, table_id_.data(), 16, check_.data())) {
    Fail(DBE_WRONG_PASSWORD, "Error 5051: The table is encrypted with another key than this data dictionary's. File: " +
                                 paths_.kdt);
  }
  return key;
}

bool TableFile::SoleUser() {
  if (exclusive_) return true;
  if (!data_.writable()) return false;
  if (!data_.TryLock(kLockOpen, true)) return false;
  data_.TryLock(kLockOpen, false);  // back to a shared hold
  return true;
}

// --- creation -------------------------------------------------------------

std::string TableFile::NewHeader(const Layout& layout, uint32_t flags, const std::array<uint8_t, 16>& id) {
  TableFile scratch;
  scratch.table_id_ = id;
  return scratch.BuildHeader(layout, flags, nullptr, nullptr, nullptr);
}

std::string TableFile::BuildHeader(const Layout& layout, uint32_t flags, const crypto::KdfParams* kdf,
                                   const uint8_t* check, const std::array<uint8_t, 16>* key_owner) const {
  const std::array<uint8_t, 16>& id = table_id_;
  uint32_t header_size = kHeaderFixed + static_cast<uint32_t>(layout.fields.size()) * kFieldDescSize;
  std::string bytes(header_size, '\0');
  auto* h = reinterpret_cast<uint8_t*>(bytes.data());
  std::memcpy(h, kTableMagic, 8);
  PutU32(h + kOffVersion, kTableVersion);
  PutU32(h + kOffHeaderSize, header_size);
  PutU32(h + kOffFieldCount, static_cast<uint32_t>(layout.fields.size()));
  PutU32(h + kOffRecordLength, layout.record_length);
  PutU32(h + kOffSlotSize, SlotSizeFor(layout.record_length, flags & kFlagEncrypted));
  PutU32(h + kOffFlags, flags);
  std::memcpy(h + kOffTableId, id.data(), 16);
  if (kdf != nullptr) {
    std::memcpy(h + kOffSalt, kdf->salt.data(), crypto::kSaltSize);
    PutU64(h + kOffOps, kdf->ops);
    PutU64(h + kOffMem, kdf->mem);
  }
  if (check != nullptr) std::memcpy(h + kOffCheck, check, crypto::kCheckSealedSize);
  if (key_owner != nullptr) std::memcpy(h + kOffKeyOwner, key_owner->data(), 16);
  HeaderCounts counts;
  counts.counter = 1;
  InitCounts(h, kTableVersion, counts, id.data());
  for (size_t i = 0; i < layout.fields.size(); ++i) {
    const Field& f = layout.fields[i];
    uint8_t* d = h + kHeaderFixed + i * kFieldDescSize;
    std::memcpy(d, f.name.data(), f.name.size());
    PutU16(d + 64, f.type);
    PutU16(d + 66, f.decimals);
    PutU32(d + 68, f.length);
    PutU32(d + 72, f.offset);
    PutU32(d + 76, f.width);
  }
  PutU64(h + kOffDigest, HeaderDigest(h, header_size));
  return bytes;
}

void TableFile::Create(const std::string& kdt_path, const Layout& layout) {
  TablePaths paths = TablePaths::For(kdt_path);
  if (os::PathExists(kdt_path)) {
    Fail(DBE_TABLE_EXISTS, "Error 5059: The table exists already. File: " + kdt_path);
  }
  std::array<uint8_t, 16> id;
  crypto::RandomBytes(id.data(), id.size());
  uint32_t flags = layout.HasBlobs() ? kFlagMemoFile : 0;
  // Leftover companions of an earlier table of this name would not match.
  os::RemoveFile(paths.kdi);
  os::RemoveFile(paths.kdm);
  if (flags & kFlagMemoFile) {
    os::File memo = os::File::Create(paths.kdm);
    uint8_t h[kMemoHeader] = {};
    std::memcpy(h, kMemoMagic, 8);
    PutU32(h + 8, kVersion);
    PutU64(h + 16, kMemoHeader);
    std::memcpy(h + 24, id.data(), 16);
    memo.WriteAt(0, h, sizeof h);
    memo.Sync();
  }
  std::string header = NewHeader(layout, flags, id);
  os::WriteFileAtomically(kdt_path, header);
}

void TableFile::DeleteFiles() {
  ApplyDeferredChange();
  if (handles_ > 1 || !SoleUser()) {
    Fail(DBE_NEEDS_EXCLUSIVE, "Error 5062: The table can only be deleted while nobody else uses it. File: " + paths_.kdt);
  }
  BeforeFilesChange();
  for (const std::string& p : {paths_.kdt, paths_.kdi, paths_.kdm}) {
    os::RemoveFile(p);
    os::RemoveFile(p + ".new");
  }
  os::RemoveFile(paths_.kdt + ".commit");
  os::SyncParentDir(paths_.kdt);
}

// --- rewrites -------------------------------------------------------------

void TableFile::RewriteTable(Rewrite kind, const crypto::Key* key, const std::string& password,
                             const DictionaryKey* dictionary_key) {
  RequireWritable();
  const char* what = kind == Rewrite::Pack ? "packed" : kind == Rewrite::Zap ? "emptied"
                     : kind == Rewrite::Encrypt ? "encrypted" : "decrypted";
  if (kind == Rewrite::Encrypt && encrypted()) {
    Fail(DBE_NOTHING_TO_DO, "Error 5068: The table is encrypted already. File: " + paths_.kdt);
  }
  if (kind == Rewrite::Decrypt && !encrypted()) {
    Fail(DBE_NOTHING_TO_DO, "Error 5068: The table is not encrypted. File: " + paths_.kdt);
  }
  if (kind == Rewrite::Pack && shown_deleted() == 0 && !(flags_ & kFlagMemoFile)) {
    Fail(DBE_NOTHING_TO_DO, "Error 5068: The table has no deleted rows to remove. File: " + paths_.kdt);
  }
  SoleUse sole = ClaimSoleUse(std::string("Error 5062: The table can only be ") + what +
                              " while nobody else uses it. File: " + paths_.kdt);

  if (kind == Rewrite::Decrypt) RequireKey(key);
  bool new_encrypted = kind == Rewrite::Encrypt ? true : kind == Rewrite::Decrypt ? false : encrypted();
  crypto::KdfParams kdf = kdf_;
  std::shared_ptr<const crypto::Key> new_key;
  std::array<uint8_t, crypto::kCheckSealedSize> check = check_;
  std::array<uint8_t, 16> key_owner = key_owner_;
  bool dict_keyed = dictionary_keyed() && kind != Rewrite::Decrypt;
  if (kind == Rewrite::Encrypt && dictionary_key != nullptr) {
    new_key = dictionary_key->key;
    key_owner = dictionary_key->id;
    dict_keyed = true;
    kdf = crypto::KdfParams{};
    crypto::MakeCheck(*new_key, table_id_.data(), 16, check.data());
  } else if (kind == Rewrite::Encrypt) {
    if (password.empty()) {
      Fail(DBE_PASSWORD_REQUIRED, "Error 5050: A password must be given before the table is encrypted. File: " +
                                      paths_.kdt);
    }
    kdf = crypto::NewParams(password);
    new_key = crypto::DeriveKey(password, kdf);
    crypto::MakeCheck(*new_key, table_id_.data(), 16, check.data());
  }
  if (DeferRewrite(kind, key, new_key, kdf, check, key_owner, dict_keyed)) return;
  ApplyDeferredChange();
  RewriteTimer timer(false);
  bool reencode = kind == Rewrite::Encrypt || kind == Rewrite::Decrypt;
  const crypto::Key* write_key = kind == Rewrite::Encrypt ? new_key.get() : key;
  uint32_t flags = (flags_ & (kFlagMemoFile | kFlagIndexFile)) | (new_encrypted ? kFlagEncrypted : 0) |
                   (new_encrypted && dict_keyed ? kFlagDictionaryKey : 0);
  if (!tags_.empty()) flags |= kFlagIndexFile;

  std::string header = BuildHeader(layout_, flags, new_encrypted ? &kdf : nullptr,
                                   new_encrypted ? check.data() : nullptr, new_encrypted ? &key_owner : nullptr);
  // Re-encoded rows and values are sealed with the new key; otherwise slots
  // and values carry over exactly as stored.
  RebuildWriter out(paths_.kdt + ".new", paths_.kdm + ".new", (flags & kFlagMemoFile) != 0, header,
                    reencode && new_encrypted ? write_key : nullptr, table_id_);
  uint32_t n = kind == Rewrite::Zap ? 0 : record_count();
  uint32_t written = 0, deleted = 0;
  std::vector<uint8_t> rec(layout_.record_length);
  const uint32_t kAheadRows = std::max<uint32_t>(1, (2u << 20) / slot_size_);
  std::vector<uint8_t> ahead;
  uint32_t ahead_first = 0, ahead_count = 0;
  for (uint32_t r = 1; r <= n; ++r) {
    const uint8_t* s = Slot(r);
    bool is_deleted = IsDeleted(r);
    if (is_deleted && kind == Rewrite::Pack) continue;
    if (is_deleted) ++deleted;
    ++written;
    if (!reencode && rows_checked() && !out.has_memo()) {
      // Checked here once; the new checksum follows from the old one.
      VerifyRow(r, s);
      out.AppendMovedRow(s, layout_.record_length, r);
      continue;
    }
    if (!reencode && encrypted()) {
      // Sealed rows hide their memo references: they carry over as stored,
      // and their memo file is copied whole.
      out.AppendSlot(s, slot_size_);
      continue;
    }
    if (reencode && encrypted()) {
      // Decrypted a batch ahead, on every core.
      if (r >= ahead_first + ahead_count) {
        ahead_first = r;
        ahead_count = std::min(kAheadRows, n - r + 1);
        ahead.resize(size_t(ahead_count) * layout_.record_length);
        ReadRecords(r, ahead_count, key, ahead.data());
      }
      std::memcpy(rec.data(), ahead.data() + size_t(r - ahead_first) * layout_.record_length, layout_.record_length);
    } else if (reencode || rows_checked()) {
      ReadRecord(r, key, rec.data());
    } else {
      std::memcpy(rec.data(), s, layout_.record_length);
    }
    for (uint32_t i = 0; i < layout_.fields.size() && out.has_memo(); ++i) {
      const Field& f = layout_.fields[i];
      if (!IsBlobType(f.type) || IsNullBit(rec.data(), i)) continue;
      std::string value;
      if (reencode) {
        value = ReadBlob(rec.data(), i, key);
      } else {
        uint64_t off = GetU64(rec.data() + f.offset);
        uint32_t len = GetU32(rec.data() + f.offset + 8);
        if (off < kMemoHeader || off + 4 + len > memo_.Size()) Damaged(paths_.kdm, "a memo reference points outside the memo file");
        value.resize(len);
        memo_.ReadAt(off + 4, value.data(), len);
      }
      PutU64(rec.data() + f.offset, out.AppendValue(value));
      PutU32(rec.data() + f.offset + 8, static_cast<uint32_t>(value.size()));
    }
    out.AppendRow(rec.data(), layout_.record_length);
  }
  const bool copy_memo = out.has_memo() && encrypted() && !reencode && kind == Rewrite::Pack;
  const HeaderCounts old_counts = Counts();
  out.Finish({old_counts.counter + 1, written, deleted, kind == Rewrite::Zap ? 1 : old_counts.next_autoinc,
              old_counts.row_version},
             copy_memo ? paths_.kdm : "");
  CommitRebuild(out.TakeData(), out.has_memo(), false);
}

TableFile::SoleUse TableFile::ClaimSoleUse(const std::string& refusal) {
  if (handles_ > 1 || !(exclusive_ || data_.TryLock(kLockOpen, true))) Fail(DBE_NEEDS_EXCLUSIVE, refusal);
  return SoleUse(this);
}

TableFile::SoleUse::~SoleUse() {
  if (t_->exclusive_ || t_->failed_ || !t_->data_.is_open()) return;
  try {
    t_->data_.TryLock(kLockOpen, false);
  } catch (const Error&) {
    // The handle keeps the table to itself until it is closed: others are
    // refused for longer, nothing is lost.
  }
}

void TableFile::MarkFailed() {
  failed_ = true;
  std::lock_guard<std::mutex> lock(g_registry_mu);
  auto it = Registry().find({dev_, ino_});
  if (it != Registry().end() && it->second.lock().get() == this) Registry().erase(it);
  // Letting go of the open lock lets the table be opened again, and so be
  // recovered, while this handle is still open.
  if (data_.is_open()) data_.Unlock(kLockOpen);
}

void TableFile::RequireUsable() const {
  if (failed_) {
    Fail(DBE_TABLE_FAILED, "Error 5076: A rewrite of the table failed after it was committed; close the table and "
                           "open it again to finish it. File: " + paths_.kdt);
  }
}

void TableFile::AdoptRebuilt(os::File data) {
  {
    std::lock_guard<std::mutex> lock(g_registry_mu);
    Registry().erase({dev_, ino_});
    // The replaced file is closed first, so that its mapping holds the last
    // reference to it and freeing its pages happens with the unmapping, off
    // this thread for a large table.
    const os::Mapping::Range replaced = map_.Release();
    data_ = std::move(data);
    os::UnmapInBackground(replaced);
    data_.Renamed(paths_.kdt);
    Load();
    data_.Identity(&dev_, &ino_);
    record_locks_.clear();
    Registry()[{dev_, ino_}] = weak_from_this();
  }
  indexes_built_ = false;
  snapshot_valid_ = false;
}

}  // namespace dbe
