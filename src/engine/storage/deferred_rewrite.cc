// Deferred rewrites: while they are on, a table's restructures, packs,
// encryptions and decryptions are checked when asked for and then only
// described. The TableFile shows the fields, tags and encryption the table
// will have (layout_, tags_, flags_, kdf_, check_ and key_owner_ are those
// of the table as shown), while Pending remembers the files as they are.
// The first read or write of a row, DeleteFiles, a zap, the end of
// deferral or ApplyDeferredRewrites() rebuilds the table once, through all
// the steps in order (TableFile::Rebuild), with the usual commit protocol:
// a killed process leaves the old table or the new one.
//
// The rebuild reads the files with the key they were sealed with and seals
// the new rows with the key the table is shown with, so a table decrypted,
// changed and encrypted again is never written in the clear, not even in a
// temporary file. Its .BAK set is the table as it was before the changes.
//
// A table with changes waiting stays open in this process (held by the
// list of waiting tables) with a shared open lock, so that no other program
// can rewrite it underneath; handles opened on it join it and see it as
// shown. Every handle open on it has not read a row yet (reading one
// rebuilds the table first), so the rebuild can go ahead whatever handles
// of this process hold it.
#include <exception>

#include "core/error.h"
#include "dbe/dbe.h"
#include "os/file.h"
#include "storage/rebuild.h"
#include "storage/table_file.h"

namespace dbe {

using namespace format;

namespace {

bool g_deferred = false;

std::vector<std::shared_ptr<TableFile>>& Waiting() {
  static auto* tables = new std::vector<std::shared_ptr<TableFile>>();
  return *tables;
}

// Tags of the same names, keys and options, in the same order.
bool SameTagDefinitions(const std::vector<std::shared_ptr<IndexTag>>& a,
                        const std::vector<std::shared_ptr<IndexTag>>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i]->name != b[i]->name || a[i]->expr != b[i]->expr || a[i]->options != b[i]->options) return false;
  }
  return true;
}

}  // namespace


void TableFile::SetRewritesDeferred(bool deferred) { g_deferred = deferred; }

bool TableFile::RewritesDeferred() { return g_deferred; }

void TableFile::ApplyDeferredRewrites() {
  // One table at a time off the list, so that the list always holds the
  // tables still to be rewritten.
  std::exception_ptr first;
  while (!Waiting().empty()) {
    const std::shared_ptr<TableFile> tf = Waiting().front();
    try {
      tf->ApplyDeferredChange();  // takes it off the list
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    if (!Waiting().empty() && Waiting().front() == tf) Waiting().erase(Waiting().begin());
    if (tf->handles_ == 0) tf->CloseFiles();
  }
  if (first) std::rethrow_exception(first);
}

void TableFile::ApplyDeferredRewriteOf(const std::string& kdt_path) {
  uint64_t dev = 0, ino = 0;
  if (!os::PathIdentity(kdt_path, &dev, &ino)) return;
  for (const std::shared_ptr<TableFile>& tf : Waiting()) {
    if (tf->dev_ != dev || tf->ino_ != ino) continue;
    const std::shared_ptr<TableFile> held = tf;  // the list lets go of it
    held->ApplyDeferredChange();
    if (held->handles_ == 0) held->CloseFiles();
    return;
  }
}

std::size_t TableFile::DeferredRewritesWaiting() { return Waiting().size(); }

void TableFile::BeginPending(const crypto::Key* disk_key) {
  pending_ = std::make_unique<Pending>();
  Pending& p = *pending_;
  p.layout = layout_;
  p.tags = tags_;
  p.flags = flags_;
  p.kdf = kdf_;
  p.check = check_;
  p.key_owner = key_owner_;
  if (encrypted()) {
    p.disk_key = *disk_key;
    p.shown_key = *disk_key;
  }
  Waiting().push_back(shared_from_this());
}

bool TableFile::DeferRestructure(const Layout& new_layout, const std::vector<int>& source,
                                 std::vector<std::shared_ptr<IndexTag>> new_tags, const crypto::Key* key) {
  if (!g_deferred || failed_) return false;
  if (!pending_) BeginPending(key);  // an encrypted table's key was required by the caller
  AddRestructureStep(pending_->steps, layout_, new_layout, source);
  pending_->restructured = true;
  layout_ = new_layout;
  tags_ = std::move(new_tags);
  flags_ = (flags_ & (kFlagEncrypted | kFlagDictionaryKey)) | (layout_.HasBlobs() ? kFlagMemoFile : 0) |
           (tags_.empty() ? 0 : kFlagIndexFile);
  return true;
}

bool TableFile::DeferRewrite(Rewrite kind, const crypto::Key* key, const std::shared_ptr<const crypto::Key>& new_key,
                             const crypto::KdfParams& kdf, const std::array<uint8_t, crypto::kCheckSealedSize>& check,
                             const std::array<uint8_t, 16>& key_owner, bool dict_keyed) {
  if (!g_deferred || failed_ || kind == Rewrite::Zap) return false;
  // Sealed rows cannot be carried into a rebuild without their key.
  if (!pending_ && encrypted() && key == nullptr) return false;
  if (!pending_) BeginPending(key);
  Pending& p = *pending_;
  switch (kind) {
    case Rewrite::Pack:
      if (p.steps.empty() || !p.steps.back().pack) p.steps.push_back(RebuildStep{true, {}, {}, {}});
      break;
    case Rewrite::Decrypt:
      flags_ &= ~(kFlagEncrypted | kFlagDictionaryKey);
      p.shown_key.reset();
      break;
    case Rewrite::Encrypt:
      if (p.disk_key && *p.disk_key == *new_key && ((p.flags & kFlagDictionaryKey) != 0) == dict_keyed &&
          (!dict_keyed || p.key_owner == key_owner)) {
        // Encrypted again with the key of its files: it stays as it is.
        flags_ |= p.flags & (kFlagEncrypted | kFlagDictionaryKey);
        kdf_ = p.kdf;
        check_ = p.check;
        key_owner_ = p.key_owner;
      } else {
        flags_ |= kFlagEncrypted | (dict_keyed ? kFlagDictionaryKey : 0);
        kdf_ = kdf;
        check_ = check;
        key_owner_ = key_owner;
      }
      p.shown_key = *new_key;
      break;
    case Rewrite::Zap:
      break;
  }
  return true;
}

uint32_t TableFile::shown_deleted() const {
  if (pending_) {
    for (const RebuildStep& s : pending_->steps) {
      if (s.pack) return 0;
    }
  }
  return Counts().deleted;
}

void TableFile::ApplyDeferredChange() {
  if (!pending_) return;
  std::unique_ptr<Pending> p = std::move(pending_);
  auto& waiting = Waiting();
  for (auto it = waiting.begin(); it != waiting.end(); ++it) {
    if (it->get() == this) {
      waiting.erase(it);  // the handles holding it now hold it as any table
      break;
    }
  }
  RebuildPlan plan = PlanAsItStands();
  plan.steps = std::move(p->steps);
  plan.read_key = p->disk_key ? &*p->disk_key : nullptr;
  plan.write_key = p->shown_key ? &*p->shown_key : nullptr;
  plan.keep_backup = p->restructured;
  const bool same_sealing = plan.encrypted == ((p->flags & kFlagEncrypted) != 0) &&
                            (!plan.encrypted || (check_ == p->check && p->disk_key == p->shown_key));
  // Until the switch the object describes the files as they are.
  layout_ = std::move(p->layout);
  tags_ = std::move(p->tags);
  flags_ = p->flags;
  kdf_ = p->kdf;
  check_ = p->check;
  key_owner_ = p->key_owner;
  if (plan.steps.empty() && same_sealing) return;  // decrypted and encrypted again with the same key
  try {
    // Files put in the table's place by other means (copied or extracted
    // over it) are not the rows the changes were asked for: rebuilding from
    // the files held would overwrite them with the old rows.
    uint64_t dev = 0, ino = 0;
    if (!os::PathIdentity(paths_.kdt, &dev, &ino) || dev != dev_ || ino != ino_) {
      Fail(DBE_TABLE_FAILED, "Error 5076: The table's files were replaced while changes to it waited; the "
                             "changes were not made. File: " + paths_.kdt);
    }
    if (!(exclusive_ || data_.TryLock(kLockOpen, true))) {
      Fail(DBE_NEEDS_EXCLUSIVE, "Error 5062: The table can only be rewritten while nobody else uses it. File: " +
                                    paths_.kdt);
    }
    SoleUse sole(this);
    if (same_sealing && version_ == kTableVersion && SameTagDefinitions(plan.tags, tags_) &&
        RebuildKeepsEveryRow(plan)) {
      // Changes that put the table back as its files hold it (a column
      // widened and narrowed back to its width) leave nothing to rewrite.
      // The .BAK set is still the table as it was before them.
      if (plan.keep_backup) {
        BeforeFilesChange();
        MakeBackupSet();
      }
    } else {
      Rebuild(plan);
    }
  } catch (...) {
    // Handles of this process were shown the new table; whatever the files
    // now hold, they must not read them as the old one. Opening the table
    // again finds the old table or, past the commit, the new one.
    MarkFailed();
    throw;
  }
  // Handles opened while the change waited hold the tags as shown: they
  // stay those handles' tags, now with what the new index file says.
  for (size_t i = 0; i < tags_.size() && i < plan.tags.size(); ++i) {
    if (plan.tags[i]->name != tags_[i]->name) continue;
    *plan.tags[i] = std::move(*tags_[i]);
    tags_[i] = plan.tags[i];
  }
}

}  // namespace dbe
