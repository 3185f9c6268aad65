// Restructure: a table rebuilt with new fields beside the old one, values
// carried over wherever they fit, index tags kept when their fields survive,
// the previous files kept as the .BAK set, and an atomic switch.
#include <cstring>

#include "core/error.h"
#include "core/text.h"
#include "dbe/dbe.h"
#include "storage/bytes.h"
#include "storage/rebuild_writer.h"
#include "storage/record_codec.h"
#include "storage/rewrite_totals.h"
#include "storage/table_file.h"

namespace dbe {
namespace {


// Converts one value from the old field to the new one. A value that does
// not fit the new type leaves the field empty rather than failing the change.
void CarryValue(const Field& from, uint32_t from_index, const uint8_t* old_rec, const Field& to,
                uint32_t to_index, uint8_t* new_rec, const std::string& file) {
  if (IsNullBit(old_rec, from_index)) return;
  try {
    Value v = ReadFieldValue(from, from_index, old_rec);
    if (from.type == DBE_FT_NUMERIC && IsCharType(to.type)) {
      // A numeric value keeps its written form.
      std::string text(Trim(std::string_view(reinterpret_cast<const char*>(old_rec + from.offset), from.length)));
      WriteFieldText(to, to_index, new_rec, text, file);
      return;
    }
    WriteFieldValue(to, to_index, new_rec, v, file);
  } catch (const Error&) {
    WriteFieldEmpty(to, to_index, new_rec);
  }
}

}  // namespace

void TableFile::Restructure(const Layout& new_layout, const std::vector<int>& source, const crypto::Key* key) {
  RewriteTimer timer(true);
  RequireWritable();
  if (encrypted()) RequireKey(key);
  SoleUse sole =
      ClaimSoleUse("Error 5062: The table can only be restructured while nobody else uses it. File: " + paths_.kdt);

  // Tags whose fields all survive are kept, renamed fields renamed in the key.
  std::vector<std::shared_ptr<IndexTag>> new_tags;
  for (auto& tag : tags_) {
    bool keep = true;
    std::vector<std::string> names;
    bool renamed = false;
    for (const KeyPart& part : tag->key.parts()) {
      int j = -1;
      for (size_t k = 0; k < source.size(); ++k) {
        if (source[k] == part.field) j = static_cast<int>(k);
      }
      if (j < 0) {
        keep = false;
        break;
      }
      // A key field whose new type cannot be indexed drops the tag too.
      if (IsBlobType(new_layout.fields[j].type)) keep = false;
      names.push_back(new_layout.fields[j].name);
      if (new_layout.fields[j].name != layout_.fields[part.field].name) renamed = true;
    }
    if (!keep) continue;
    auto nt = std::make_shared<IndexTag>();
    nt->name = tag->name;
    nt->options = tag->options;
    if (renamed) {
      std::string expr;
      for (const std::string& n : names) expr += (expr.empty() ? "" : ";") + n;
      nt->expr = expr;
    } else {
      nt->expr = tag->expr;
    }
    nt->key = KeyDef(new_layout, nt->expr, nt->options & DBE_INDEX_DESCENDING, paths_.kdt);
    nt->entries = OrderedIndex(nt->key.entry_width());
    new_tags.push_back(nt);
  }

  bool enc = encrypted();
  bool has_memo = new_layout.HasBlobs();
  uint32_t flags = (has_memo ? format::kFlagMemoFile : 0) | (new_tags.empty() ? 0 : format::kFlagIndexFile) |
                   (enc ? format::kFlagEncrypted : 0) | (flags_ & format::kFlagDictionaryKey);
  std::string header = BuildHeader(new_layout, flags, enc ? &kdf_ : nullptr, enc ? check_.data() : nullptr,
                                   enc ? &key_owner_ : nullptr);
  RebuildWriter out(paths_.kdt + ".new", paths_.kdm + ".new", has_memo, header, enc ? key : nullptr, table_id_);

  std::vector<uint8_t> blank(new_layout.record_length, 0);
  for (uint32_t i = 0; i < new_layout.fields.size(); ++i) WriteFieldEmpty(new_layout.fields[i], i, blank.data());
  std::vector<uint8_t> old_rec(layout_.record_length), rec;
  uint32_t n = record_count();
  const HeaderCounts old_counts = Counts();
  uint32_t next_auto = std::max<uint32_t>(old_counts.next_autoinc, 1);
  bool fills_autoinc = false;
  for (size_t k = 0; k < source.size(); ++k) {
    if (source[k] < 0 && new_layout.fields[k].type == DBE_FT_AUTOINC) fills_autoinc = true;
  }
  uint32_t auto_counter = 0;
  uint32_t deleted = 0;
  for (uint32_t r = 1; r <= n; ++r) {
    ReadRecord(r, key, old_rec.data());
    rec = blank;
    rec[0] = old_rec[0];
    if (rec[0] == kRowDeleted) ++deleted;
    for (uint32_t j = 0; j < new_layout.fields.size(); ++j) {
      const Field& to = new_layout.fields[j];
      int s = source[j];
      if (s < 0) {
        if (to.type == DBE_FT_AUTOINC) {
          PutU32(rec.data() + to.offset, ++auto_counter);
          SetNullBit(rec.data(), j, false);
        }
        continue;
      }
      const Field& from = layout_.fields[s];
      bool from_blob = IsBlobType(from.type), to_blob = IsBlobType(to.type);
      if (!from_blob && from.type == to.type && from.length == to.length && from.decimals == to.decimals) {
        // Unchanged: the stored bytes carry over as they are.
        std::memcpy(rec.data() + to.offset, old_rec.data() + from.offset, to.width);
        SetNullBit(rec.data(), j, IsNullBit(old_rec.data(), static_cast<uint32_t>(s)));
        continue;
      }
      if (!from_blob && !to_blob) {
        CarryValue(from, static_cast<uint32_t>(s), old_rec.data(), to, j, rec.data(), paths_.kdt);
        continue;
      }
      std::string value;
      if (from_blob) {
        value = ReadBlob(old_rec.data(), static_cast<uint32_t>(s), key);
      } else if (!IsNullBit(old_rec.data(), static_cast<uint32_t>(s))) {
        value = ReadFieldText(from, static_cast<uint32_t>(s), old_rec.data());
      }
      if (!to_blob) {
        try {
          WriteFieldText(to, j, rec.data(), value, paths_.kdt);
        } catch (const Error&) {
          WriteFieldEmpty(to, j, rec.data());
        }
        continue;
      }
      if (value.empty()) continue;
      PutU64(rec.data() + to.offset, out.AppendValue(value));
      PutU32(rec.data() + to.offset + 8, static_cast<uint32_t>(value.size()));
      SetNullBit(rec.data(), j, false);
    }
    out.AppendRow(rec.data(), new_layout.record_length);
  }
  out.Finish({old_counts.counter + 1, n, deleted, fills_autoinc ? std::max(next_auto, auto_counter + 1) : next_auto,
              old_counts.row_version});
  auto old_tags = tags_;
  tags_ = new_tags;
  try {
    CommitRebuild(out.TakeData(), has_memo, true);
  } catch (...) {
    // Before the commit marker the table is still the old one; after it the
    // table is failed and answers nothing until it is opened again.
    tags_ = old_tags;
    throw;
  }
}

}  // namespace dbe
