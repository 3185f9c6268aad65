// The new files of a whole-table rebuild (pack, zap, encryption, decryption,
// restructure): X.KDT.new with the header and one slot per row and, when the
// table keeps large values, X.KDM.new with those values. Both are written
// sequentially in pieces of 4 MB, on a large table by a thread of their own
// while the next piece is made (a new table is always of the current format
// version); Finish writes the counts into the new header and the memo file's
// header and syncs both, after which the table switches over to them
// (TableFile::CommitRebuild).
#ifndef KX8_ENGINE_STORAGE_REBUILD_WRITER_H_
#define KX8_ENGINE_STORAGE_REBUILD_WRITER_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "crypto/cipher.h"
#include "os/file.h"
#include "storage/checksum.h"
#include "storage/header_counts.h"

namespace dbe {

class RebuildWriter {
 public:
  // kdt_new and kdm_new are created afresh; without a memo file kdm_new is
  // not touched. Rows and values are sealed with key (when not null) under
  // the table's id.
  RebuildWriter(const std::string& kdt_new, const std::string& kdm_new, bool has_memo, const std::string& header,
                const crypto::Key* key, const std::array<uint8_t, 16>& table_id);
  RebuildWriter(const RebuildWriter&) = delete;
  RebuildWriter& operator=(const RebuildWriter&) = delete;
  ~RebuildWriter();

  bool has_memo() const { return has_memo_; }

  // Appends a large value with its capacity to the new memo file; returns
  // the offset to keep in the row.
  uint64_t AppendValue(std::string_view value);
  // Appends a row: sealed into its slot when the new table is encrypted
  // (the state byte stays readable), else stored with its checksum.
  void AppendRow(const uint8_t* rec, uint32_t record_length);
  // Appends a slot exactly as it was stored.
  void AppendSlot(const uint8_t* slot, uint32_t size);
  // Appends a checked plain slot that was row `from` (its record and
  // checksum), the checksum moved to the row's new number.
  void AppendMovedRow(const uint8_t* slot, uint32_t record_length, uint32_t from);

  using Counts = HeaderCounts;
  // Writes the counts and the memo header and syncs the files. With
  // memo_copy, the new memo file is a copy of that file instead (the
  // values were not carried row by row).
  void Finish(const Counts& counts, const std::string& memo_copy = "");

  // The new data file, still open, for the switch-over.
  os::File TakeData();

 private:
  class Buffer;
  // Seals the rows waiting in unsealed_ and appends their slots.
  void SealWaitingRows();
  static constexpr size_t kSealBatchBytes = 2u << 20;
  os::File data_, memo_;
  std::unique_ptr<Buffer> data_buf_, memo_buf_;
  bool has_memo_;
  std::string kdm_new_;
  const crypto::Key* key_;
  std::array<uint8_t, 16> table_id_;
  std::string slot_;
  std::string unsealed_;  // plain records waiting to be sealed, in order
  uint32_t unsealed_length_ = 0;
  uint32_t rows_ = 0;  // slots appended so far
  std::unique_ptr<RowRenumbering> renumbering_;
};

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_REBUILD_WRITER_H_
