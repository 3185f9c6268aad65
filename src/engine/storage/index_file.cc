// Index persistence: the index file X.KDI holds the tag definitions and a
// snapshot of every tag's entries, stamped with the change counter of the
// data file they reflect. Definitions must be read for the table to open;
// the snapshot is only a shortcut, trusted when its stamp and checksum match
// and rebuilt from the rows otherwise.
#include <cstring>

#include "core/error.h"
#include "dbe/dbe.h"
#include "storage/bytes.h"
#include "storage/table_file.h"

namespace dbe {

using namespace format;

void TableFile::LoadIndexDefs() {
  tags_.clear();
  snapshot_valid_ = false;
  index_file_bytes_.clear();
  if (!os::PathExists(paths_.kdi)) {
    if ((flags_ & kFlagIndexFile) && !index_file_optional_) {
      Fail(DBE_INDEX_FILE_MISSING, "Error 5055: The index file of the table is missing. File: " + paths_.kdi);
    }
    return;
  }
  std::string bytes = os::ReadWholeFile(paths_.kdi);
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  auto bad = [&](const std::string& why) { Damaged(paths_.kdi, why); };
  if (bytes.size() < 48 || std::memcmp(p, kIndexMagic, 8) != 0) bad("unknown index file signature");
  ByteReader r(p + 8, bytes.size() - 8);
  if (r.U32() != kVersion) bad("unsupported index file version");
  uint32_t ntags = r.U32();
  const uint8_t* id = r.Take(16);
  uint64_t defs_len = r.U64();
  uint64_t defs_digest = r.U64();
  if (r.failed() || ntags > 1000 || defs_len > r.remaining()) bad("bad index file header");
  if (std::memcmp(id, table_id_.data(), 16) != 0) bad("the index file belongs to another table");
  const uint8_t* defs = r.Take(defs_len);
  if (crypto::Digest64(defs, defs_len) != defs_digest) bad("index definitions checksum mismatch");
  ByteReader d(defs, defs_len);
  for (uint32_t i = 0; i < ntags; ++i) {
    auto tag = std::make_shared<IndexTag>();
    tag->name = d.Str(200);
    tag->expr = d.Str(4000);
    tag->options = d.U32();
    if (d.failed()) bad("index definitions cut short");
    tag->key = KeyDef(layout_, tag->expr, tag->options & DBE_INDEX_DESCENDING, paths_.kdi);
    tag->entries = OrderedIndex(tag->key.entry_width());
    tags_.push_back(tag);
  }
  // The entry snapshot follows; it is only trusted when its stamp matches.
  size_t at = 8 + r.pos();
  if (bytes.size() - at >= 24) {
    ByteReader s(p + at, bytes.size() - at);
    snapshot_stamp_ = s.U64();
    snapshot_offset_ = at;
    snapshot_valid_ = snapshot_stamp_ != ~0ull;
  }
  // Kept for the snapshot's load, so that the file is read once per open.
  if (snapshot_valid_) index_file_bytes_ = std::move(bytes);
}

void TableFile::LoadSnapshot(const crypto::Key* key) {
  if (encrypted() && key == nullptr) return;
  // The file as the open read it. Read again, a file another program has
  // rewritten since would carry another stamp and be refused below; the
  // one read then holds the entries for the change counter in force.
  std::string bytes = index_file_bytes_.empty() ? os::ReadWholeFile(paths_.kdi) : std::move(index_file_bytes_);
  index_file_bytes_ = std::string();
  if (snapshot_offset_ + 24 > bytes.size()) {
    snapshot_valid_ = false;
    return;
  }
  ByteReader s(reinterpret_cast<const uint8_t*>(bytes.data()) + snapshot_offset_, bytes.size() - snapshot_offset_);
  uint64_t stamp = s.U64();
  uint64_t len = s.U64();
  uint64_t digest = s.U64();
  const uint8_t* body = s.Take(len);
  if (s.failed() || stamp != snapshot_stamp_ || crypto::Digest64(body, len) != digest) {
    snapshot_valid_ = false;
    return;
  }
  // The entries of an encrypted table are saved sealed with its key.
  std::string plain;
  if (encrypted()) {
    if (len < crypto::kOverhead) {
      snapshot_valid_ = false;
      return;
    }
    plain.resize(len - crypto::kOverhead);
    if (!crypto::Open(*key, table_id_.data(), 16, body, len, reinterpret_cast<uint8_t*>(plain.data()))) {
      snapshot_valid_ = false;
      return;
    }
    body = reinterpret_cast<const uint8_t*>(plain.data());
    len = plain.size();
  }
  ByteReader b(body, len);
  std::vector<std::string> parts;
  for (auto& tag : tags_) {
    uint64_t n = b.U64();
    const uint8_t* e = b.Take(n * tag->key.entry_width());
    if (b.failed()) {
      snapshot_valid_ = false;
      return;
    }
    parts.emplace_back(reinterpret_cast<const char*>(e), n * tag->key.entry_width());
  }
  for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->entries.Build(std::move(parts[i]), /*sorted=*/true);
  indexes_built_ = true;
  index_counter_ = stamp;
  index_dirty_ = false;
}

void TableFile::SaveIndexFile(bool with_entries) {
  ByteWriter defs;
  for (auto& tag : tags_) {
    defs.Str(tag->name);
    defs.Str(tag->expr);
    defs.U32(tag->options);
  }
  ByteWriter out;
  out.Raw(kIndexMagic, 8);
  out.U32(kVersion);
  out.U32(static_cast<uint32_t>(tags_.size()));
  out.Raw(table_id_.data(), 16);
  out.U64(defs.bytes().size());
  out.U64(crypto::Digest64(reinterpret_cast<const uint8_t*>(defs.bytes().data()), defs.bytes().size()));
  out.Raw(defs.bytes().data(), defs.bytes().size());
  bool entries = with_entries && indexes_built_ && (!encrypted() || index_key_.has_value());
  ByteWriter body;
  if (entries) {
    for (auto& tag : tags_) {
      body.U64(tag->entries.size());
      std::string e = tag->entries.Serialize();
      body.Raw(e.data(), e.size());
    }
    if (encrypted()) {
      std::string sealed(body.bytes().size() + crypto::kOverhead, '\0');
      crypto::Seal(*index_key_, table_id_.data(), 16, reinterpret_cast<const uint8_t*>(body.bytes().data()),
                   body.bytes().size(), reinterpret_cast<uint8_t*>(sealed.data()));
      body.bytes() = std::move(sealed);
    }
  }
  out.U64(entries ? index_counter_ : ~0ull);
  out.U64(body.bytes().size());
  out.U64(crypto::Digest64(reinterpret_cast<const uint8_t*>(body.bytes().data()), body.bytes().size()));
  out.Raw(body.bytes().data(), body.bytes().size());
  index_file_bytes_ = std::string();
  os::WriteFileAtomically(paths_.kdi, out.bytes());
  snapshot_offset_ = 8 + 4 + 4 + 16 + 8 + 8 + defs.bytes().size();
  snapshot_stamp_ = entries ? index_counter_ : ~0ull;
  snapshot_valid_ = entries;
  if (entries) index_dirty_ = false;
}

}  // namespace dbe
