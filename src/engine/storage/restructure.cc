// Restructure: a table rebuilt with new fields beside the old one, values
// carried over wherever they fit, index tags kept when their fields survive,
// the previous files kept as the .BAK set, and an atomic switch. The
// rebuild itself also carries out the deferred changes of a table
// (deferred_rewrite.cc): several restructures and packs, and a change of
// encryption, in one pass over the rows.
#include <algorithm>
#include <cstring>
#include <functional>

#include "core/error.h"
#include "core/text.h"
#include "dbe/dbe.h"
#include "storage/bytes.h"
#include "storage/rebuild.h"
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

  if (DeferRestructure(new_layout, source, new_tags, key)) return;
  ApplyDeferredChange();
  RebuildPlan plan = PlanAsItStands();
  AddRestructureStep(plan.steps, layout_, new_layout, source);
  plan.layout = new_layout;
  plan.tags = new_tags;
  plan.read_key = key;
  plan.write_key = key;
  plan.keep_backup = true;
  Rebuild(plan);
}

namespace {

bool SameForm(const Field& a, const Field& b) {
  return a.type == b.type && a.length == b.length && a.decimals == b.decimals;
}


// Carries rows of a table through the steps of a rebuild, one row at a
// time: the rows a rebuild writes, or the rows it would write.
class RowSteps {
 public:
  // read_blob gives a large value of a row on disk.
  RowSteps(const std::vector<RebuildStep>& steps, const Layout& disk, const std::string& file,
           std::function<std::string(const uint8_t* rec, uint32_t field)> read_blob)
      : steps_(steps), disk_(disk), file_(file), read_blob_(std::move(read_blob)), state_(steps.size()) {
    for (size_t k = 0; k < steps_.size(); ++k) {
      const RebuildStep& step = steps_[k];
      if (step.pack) continue;
      state_[k].blank.assign(step.layout.record_length, 0);
      for (uint32_t i = 0; i < step.layout.fields.size(); ++i) {
        WriteFieldEmpty(step.layout.fields[i], i, state_[k].blank.data());
        if (step.source[i] < 0 && step.layout.fields[i].type == DBE_FT_AUTOINC) state_[k].fills_autoinc = true;
      }
    }
  }

  // The row after every step, or nullptr when a pack drops it; valid until
  // the next call.
  const uint8_t* Run(const uint8_t* disk_rec) {
    const bool is_deleted = disk_rec[0] == kRowDeleted;
    // The row as it stands before each step: first on disk, then staged.
    from_layout_ = &disk_;
    from_ = disk_rec;
    from_staged_ = nullptr;
    for (size_t k = 0; k < steps_.size(); ++k) {
      const RebuildStep& step = steps_[k];
      if (step.pack) {
        if (is_deleted) return nullptr;
        continue;
      }
      StagedRow& to_row = from_staged_ == &a_ ? b_ : a_;
      to_row.rec = state_[k].blank;
      to_row.rec[0] = from_[0];
      to_row.blobs.assign(step.layout.HasBlobs() ? step.layout.fields.size() : 0, std::string());
      uint8_t* rec = to_row.rec.data();
      for (uint32_t j = 0; j < step.layout.fields.size(); ++j) {
        const Field& to = step.layout.fields[j];
        const int s = step.source[j];
        if (s < 0) {
          if (to.type == DBE_FT_AUTOINC) {
            PutU32(rec + to.offset, ++state_[k].auto_counter);
            SetNullBit(rec, j, false);
          }
          continue;
        }
        const uint32_t su = static_cast<uint32_t>(s);
        const Field& f = from_layout_->fields[su];
        const bool from_blob = IsBlobType(f.type), to_blob = IsBlobType(to.type);
        if (!from_blob && SameForm(f, to)) {
          // Unchanged: the stored bytes carry over as they are.
          std::memcpy(rec + to.offset, from_ + f.offset, to.width);
          SetNullBit(rec, j, IsNullBit(from_, su));
          continue;
        }
        if (!from_blob && !to_blob) {
          CarryValue(f, su, from_, to, j, rec, file_);
          continue;
        }
        std::string value = from_blob ? Blob(su) : IsNullBit(from_, su) ? std::string()
                                                                         : ReadFieldText(f, su, from_);
        if (!to_blob) {
          try {
            WriteFieldText(to, j, rec, value, file_);
          } catch (const Error&) {
            WriteFieldEmpty(to, j, rec);
          }
          continue;
        }
        if (value.empty()) continue;
        to_row.blobs[j] = std::move(value);
        SetNullBit(rec, j, false);
      }
      from_layout_ = &step.layout;
      from_ = to_row.rec.data();
      from_staged_ = &to_row;
    }
    return from_;
  }

  // A large value of the row Run gave last.
  std::string Blob(uint32_t field) const {
    if (IsNullBit(from_, field)) return {};
    return from_staged_ == nullptr ? read_blob_(from_, field) : from_staged_->blobs[field];
  }

  // The next auto-increment value of the rebuilt table, once every row has
  // been run, from that of the table on disk.
  uint32_t NextAutoInc(uint32_t on_disk) const {
    uint32_t next = on_disk;
    for (size_t k = 0; k < steps_.size(); ++k) {
      if (steps_[k].pack) continue;
      next = std::max<uint32_t>(next, 1);
      if (state_[k].fills_autoinc) next = std::max(next, state_[k].auto_counter + 1);
    }
    return next;
  }

 private:
  // A row between the steps: its record image and the values of its
  // large-value fields (the rows on disk keep theirs in the memo file).
  struct StagedRow {
    std::vector<uint8_t> rec;
    std::vector<std::string> blobs;  // by field
  };
  struct StepState {
    std::vector<uint8_t> blank;  // a row of the step's fields, all empty
    bool fills_autoinc = false;
    uint32_t auto_counter = 0;
  };

  const std::vector<RebuildStep>& steps_;
  const Layout& disk_;
  const std::string& file_;
  std::function<std::string(const uint8_t*, uint32_t)> read_blob_;
  std::vector<StepState> state_;
  StagedRow a_, b_;
  const Layout* from_layout_ = nullptr;
  const uint8_t* from_ = nullptr;
  const StagedRow* from_staged_ = nullptr;
};

}  // namespace

void AddRestructureStep(std::vector<RebuildStep>& steps, const Layout& before, Layout after, std::vector<int> source) {
  if (!steps.empty() && !steps.back().pack) {
    // before is what the last step makes. The two become one when every
    // value passes through at most one change of form, and at most one of
    // them numbers new auto-increment fields (each step counts on its own).
    RebuildStep& last = steps.back();
    bool merges = true, first_numbers = false, second_numbers = false;
    for (size_t k = 0; k < last.source.size(); ++k) {
      if (last.source[k] < 0 && last.layout.fields[k].type == DBE_FT_AUTOINC) first_numbers = true;
    }
    std::vector<int> merged(source.size(), -1);
    for (size_t j = 0; j < source.size() && merges; ++j) {
      const Field& to = after.fields[j];
      if (source[j] < 0) {
        if (to.type == DBE_FT_AUTOINC) second_numbers = true;
        continue;
      }
      const Field& mid = before.fields[static_cast<size_t>(source[j])];
      const int s = last.source[static_cast<size_t>(source[j])];
      if (s < 0) {
        // New in the first step: numbered, or empty in every row. An empty
        // large value is written as text into a field of another form.
        if ((mid.type == DBE_FT_AUTOINC || IsBlobType(mid.type)) && !SameForm(mid, to)) merges = false;
        continue;
      }
      if (!SameForm(last.input.fields[static_cast<size_t>(s)], mid) && !SameForm(mid, to)) merges = false;
      merged[j] = s;
    }
    if (merges && !(first_numbers && second_numbers)) {
      last.layout = std::move(after);
      last.source = std::move(merged);
      return;
    }
  }
  RebuildStep step;
  step.input = before;
  step.layout = std::move(after);
  step.source = std::move(source);
  steps.push_back(std::move(step));
}

TableFile::RebuildPlan TableFile::PlanAsItStands() const {
  RebuildPlan plan;
  plan.layout = layout_;
  plan.tags = tags_;
  plan.encrypted = encrypted();
  plan.dictionary_keyed = dictionary_keyed();
  plan.kdf = kdf_;
  plan.check = check_;
  plan.key_owner = key_owner_;
  return plan;
}

bool StepsGiveRowsBack(const std::vector<RebuildStep>& steps, const Layout& disk) {
  // Per field of the stage reached, the field of `disk` whose values it
  // holds unchanged, or -1.
  std::vector<int> origin(disk.fields.size());
  for (size_t i = 0; i < origin.size(); ++i) origin[i] = static_cast<int>(i);
  const Layout* stage = &disk;
  for (const RebuildStep& step : steps) {
    if (step.pack) return false;
    std::vector<int> next(step.layout.fields.size(), -1);
    for (size_t j = 0; j < next.size(); ++j) {
      const int s = step.source[j];
      if (s < 0 || origin[static_cast<size_t>(s)] < 0) continue;
      const Field& own = disk.fields[static_cast<size_t>(origin[static_cast<size_t>(s)])];
      const Field& to = step.layout.fields[j];
      const bool kept = to.type == own.type && to.decimals == own.decimals &&
                        (to.length == own.length || (IsCharType(own.type) && to.length > own.length));
      if (kept) next[j] = origin[static_cast<size_t>(s)];
    }
    origin = std::move(next);
    stage = &step.layout;
  }
  if (stage->fields.size() != disk.fields.size()) return false;
  for (size_t j = 0; j < disk.fields.size(); ++j) {
    if (origin[j] != static_cast<int>(j) || stage->fields[j].name != disk.fields[j].name ||
        !SameForm(stage->fields[j], disk.fields[j])) {
      return false;
    }
  }
  return true;
}

bool TableFile::ForEachStoredRow(const crypto::Key* key, const std::function<bool(const uint8_t*)>& row) {
  const uint32_t n = record_count();
  const uint32_t length = layout_.record_length;
  // Read in batches of about 2 MB: one call for many rows, without the
  // whole table in memory.
  const uint32_t batch = std::max<uint32_t>(1, (2u << 20) / std::max<uint32_t>(slot_size_, 1));
  std::vector<uint8_t> rows;
  for (uint32_t first = 1; first <= n; first += batch) {
    const uint32_t count = std::min(batch, n - first + 1);
    rows.resize(size_t(count) * length);
    ReadRecords(first, count, key, rows.data());
    for (uint32_t i = 0; i < count; ++i) {
      if (!row(rows.data() + size_t(i) * length)) return false;
    }
  }
  return true;
}

void TableFile::Rebuild(const RebuildPlan& plan) {
  RewriteTimer timer(plan.keep_backup);
  const Layout& final_layout = plan.layout;
  const bool enc = plan.encrypted;
  const bool has_memo = final_layout.HasBlobs();
  const uint32_t flags = (has_memo ? format::kFlagMemoFile : 0) | (plan.tags.empty() ? 0 : format::kFlagIndexFile) |
                         (enc ? format::kFlagEncrypted : 0) |
                         (enc && plan.dictionary_keyed ? format::kFlagDictionaryKey : 0);
  std::string header = BuildHeader(final_layout, flags, enc ? &plan.kdf : nullptr, enc ? plan.check.data() : nullptr,
                                   enc ? &plan.key_owner : nullptr);
  RebuildWriter out(paths_.kdt + ".new", paths_.kdm + ".new", has_memo, header, enc ? plan.write_key : nullptr,
                    table_id_);

  RowSteps rows(plan.steps, layout_, paths_.kdt,
                [&](const uint8_t* rec, uint32_t field) { return ReadBlob(rec, field, plan.read_key); });
  const HeaderCounts old_counts = Counts();
  std::vector<uint8_t> final_row;
  uint32_t written = 0, deleted = 0;
  ForEachStoredRow(plan.read_key, [&](const uint8_t* disk_rec) {
    const uint8_t* final_rec = rows.Run(disk_rec);
    if (final_rec == nullptr) return true;
    ++written;
    if (disk_rec[0] == kRowDeleted) ++deleted;
    // The row's large values go to the new memo file.
    if (has_memo) {
      final_row.assign(final_rec, final_rec + final_layout.record_length);
      for (uint32_t j = 0; j < final_layout.fields.size(); ++j) {
        const Field& f = final_layout.fields[j];
        if (!IsBlobType(f.type) || IsNullBit(final_rec, j)) continue;
        const std::string value = rows.Blob(j);
        PutU64(final_row.data() + f.offset, out.AppendValue(value));
        PutU32(final_row.data() + f.offset + 8, static_cast<uint32_t>(value.size()));
      }
      final_rec = final_row.data();
    }
    out.AppendRow(final_rec, final_layout.record_length);
    return true;
  });
  const uint32_t next_auto = rows.NextAutoInc(old_counts.next_autoinc);
  out.Finish({old_counts.counter + 1, written, deleted, next_auto, old_counts.row_version});
  auto old_tags = tags_;
  tags_ = plan.tags;
  try {
    CommitRebuild(out.TakeData(), has_memo, plan.keep_backup);
  } catch (...) {
    // Before the commit marker the table is still the old one; after it the
    // table is failed and answers nothing until it is opened again.
    tags_ = old_tags;
    throw;
  }
}

bool TableFile::RebuildKeepsEveryRow(const RebuildPlan& plan) {
  if (!StepsGiveRowsBack(plan.steps, layout_) || plan.layout.record_length != layout_.record_length) return false;
  // Values can still come out otherwise than stored (an all-blank value not
  // marked empty comes back empty): every row is run through the steps and
  // compared, but for where its large values are kept in the memo file.
  std::vector<std::pair<uint32_t, uint32_t>> blob_ranges;
  for (size_t j = 0; j < layout_.fields.size(); ++j) {
    const Field& f = layout_.fields[j];
    const Field& g = plan.layout.fields[j];
    if (f.offset != g.offset || f.width != g.width) return false;
    if (IsBlobType(f.type)) blob_ranges.emplace_back(f.offset, f.width);
  }
  RowSteps rows(plan.steps, layout_, paths_.kdt,
                [&](const uint8_t* rec, uint32_t field) { return ReadBlob(rec, field, plan.read_key); });
  const uint32_t length = layout_.record_length;
  std::vector<uint8_t> row;
  const bool all_kept = ForEachStoredRow(plan.read_key, [&](const uint8_t* disk_rec) {
    const uint8_t* out = rows.Run(disk_rec);
    if (out == nullptr) return false;
    row.assign(out, out + length);
    for (const auto& [offset, width] : blob_ranges) std::memcpy(row.data() + offset, disk_rec + offset, width);
    return std::memcmp(row.data(), disk_rec, length) == 0;
  });
  if (!all_kept) return false;
  // An auto-increment column added and dropped again may move the next value.
  const uint32_t next = Counts().next_autoinc;
  return rows.NextAutoInc(next) == std::max<uint32_t>(next, 1);
}

}  // namespace dbe
