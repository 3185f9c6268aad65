// What a whole-table rebuild does to the rows on disk: a list of steps
// (restructures and packs, in the order they were asked for) and the
// encryption of the new files. A restructure alone is one step; the changes
// of a table whose rewrites were deferred are all the steps asked for since
// its files were last written, applied row by row in one pass over them.
#ifndef KX8_ENGINE_STORAGE_REBUILD_H_
#define KX8_ENGINE_STORAGE_REBUILD_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "crypto/cipher.h"
#include "storage/schema.h"
#include "storage/table_file.h"

namespace dbe {

struct RebuildStep {
  bool pack = false;        // drops the deleted rows; otherwise a restructure:
  Layout layout;            // the fields after the step
  std::vector<int> source;  // per field, the field of `input` it takes its values from, or -1
  Layout input;             // the fields before the step
};

// Appends a restructure to steps, merged into the last step when the one
// restructure gives every row exactly what the two in turn would.
void AddRestructureStep(std::vector<RebuildStep>& steps, const Layout& before, Layout after, std::vector<int> source);
// Whether the steps give every row back exactly as it is in a table of the
// fields `disk`: restructures only, ending in these very fields, each value
// carried through in its own form or, for character values, through widths
// no smaller than its own (a column widened and then narrowed back).
bool StepsGiveRowsBack(const std::vector<RebuildStep>& steps, const Layout& disk);

struct TableFile::RebuildPlan {
  std::vector<RebuildStep> steps;
  Layout layout;  // the fields of the new files
  std::vector<std::shared_ptr<IndexTag>> tags;
  // Encryption of the new files.
  bool encrypted = false;
  bool dictionary_keyed = false;
  crypto::KdfParams kdf;
  std::array<uint8_t, crypto::kCheckSealedSize> check{};
  std::array<uint8_t, 16> key_owner{};
  const crypto::Key* read_key = nullptr;   // opens the rows on disk
  const crypto::Key* write_key = nullptr;  // seals the new rows
  bool keep_backup = false;                // the previous files stay as the .BAK set
};

// The changes of a table waiting for its deferred rewrite
// (deferred_rewrite.cc).
struct TableFile::Pending {
  // The table as its files hold it.
  Layout layout;
  std::vector<std::shared_ptr<IndexTag>> tags;
  uint32_t flags = 0;
  crypto::KdfParams kdf;
  std::array<uint8_t, crypto::kCheckSealedSize> check{};
  std::array<uint8_t, 16> key_owner{};
  std::optional<crypto::Key> disk_key;   // opens the rows on disk
  std::optional<crypto::Key> shown_key;  // seals the new rows (the table is shown encrypted)
  std::vector<RebuildStep> steps;
  bool restructured = false;
};

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_REBUILD_H_
