// The changing part of a data file's header: the change counter, the row
// slots, the deleted rows, the next autoinc value and the last row version.
//
// Format version 1 keeps them once, at bytes 256-287, without a check.
// Version 2 keeps two copies, at 256 and 320, each with the change counter
// as its sequence number and a CRC-32C over the copy and the table id. The
// copy with the even counter is at 256, the odd one at 320; a change writes
// the older copy with the counter raised by one:
//   1. its counter becomes all ones ("being written"),
//   2. the counts and the checksum are written,
//   3. the new counter is stored last (release order).
// So a reader in this or another process always finds one whole copy (the
// higher counter that is not "being written"), and a process killed during
// a change leaves the previous copy whole and the other marked. An open
// accepts exactly that, or two whole copies whose counters differ by one;
// anything else is damage.
#ifndef KX8_ENGINE_STORAGE_HEADER_COUNTS_H_
#define KX8_ENGINE_STORAGE_HEADER_COUNTS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/bytes.h"

namespace dbe {

struct HeaderCounts {
  uint64_t counter = 0;  // raised by every write of a row
  uint32_t rows = 0;     // row slots in the file, live and deleted
  uint32_t deleted = 0;
  uint32_t next_autoinc = 1;
  uint64_t row_version = 0;
};

namespace format {
constexpr uint32_t kTableVersion1 = 1;  // counts unchecked, plain slots without a checksum
constexpr uint32_t kTableVersion = 2;   // what new and rewritten tables get
constexpr size_t kOffCounts = 256;      // version 2: the two copies
constexpr size_t kCountsCopySize = 64;
constexpr size_t kCountsEnd = 512;
constexpr uint64_t kCopyBeingWritten = ~0ull;
}  // namespace format

// The counts in force.
HeaderCounts CurrentCounts(const uint8_t* header, uint32_t version);
// "" when the counts of a header can be trusted, else what is wrong.
std::string CheckCounts(const uint8_t* header, uint32_t version, const uint8_t* table_id);
// Writes counts whose counter is one above the current one (version 2: into
// the older copy, in the order above).
void PublishCounts(uint8_t* header, uint32_t version, const HeaderCounts& counts, const uint8_t* table_id);
// A new header's counts: version 2 writes both copies, the other one with
// the counter one lower (counts.counter must be at least 1).
void InitCounts(uint8_t* header, uint32_t version, const HeaderCounts& counts, const uint8_t* table_id);

namespace counts_detail {
// A copy's counter, read whole: another process may be storing it.
inline uint64_t LoadCounter(const uint8_t* copy) {
  uint64_t raw = __atomic_load_n(reinterpret_cast<const uint64_t*>(copy), __ATOMIC_ACQUIRE);
  return GetU64(reinterpret_cast<const uint8_t*>(&raw));
}
// The copy in force (version 2) and its counter: the higher counter that is
// not "being written".
inline const uint8_t* CurrentCopy(const uint8_t* header, uint64_t* counter) {
  const uint8_t* a_copy = header + format::kOffCounts;
  const uint8_t* b_copy = a_copy + format::kCountsCopySize;
  const uint64_t a = LoadCounter(a_copy), b = LoadCounter(b_copy);
  const bool use_b = a == format::kCopyBeingWritten || (b != format::kCopyBeingWritten && b > a);
  *counter = use_b ? b : a;
  return use_b ? b_copy : a_copy;
}
constexpr size_t kV1Counter = 256, kV1Rows = 264;  // version 1 offsets
constexpr size_t kCopyRows = 8;                    // within a version 2 copy
}  // namespace counts_detail

// The row slots and the change counter in force alone. A cursor asks for
// them several times for every row it passes: they are inline.
inline uint32_t CurrentRows(const uint8_t* header, uint32_t version) {
  if (version == format::kTableVersion1) return GetU32(header + counts_detail::kV1Rows);
  uint64_t counter;
  return GetU32(counts_detail::CurrentCopy(header, &counter) + counts_detail::kCopyRows);
}

inline uint64_t CurrentCounter(const uint8_t* header, uint32_t version) {
  if (version == format::kTableVersion1) return GetU64(header + counts_detail::kV1Counter);
  uint64_t counter;
  counts_detail::CurrentCopy(header, &counter);
  return counter;
}

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_HEADER_COUNTS_H_
