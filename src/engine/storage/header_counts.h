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
// Their row slots and change counter alone (asked for on every move of a
// cursor).
uint32_t CurrentRows(const uint8_t* header, uint32_t version);
uint64_t CurrentCounter(const uint8_t* header, uint32_t version);
// "" when the counts of a header can be trusted, else what is wrong.
std::string CheckCounts(const uint8_t* header, uint32_t version, const uint8_t* table_id);
// Writes counts whose counter is one above the current one (version 2: into
// the older copy, in the order above).
void PublishCounts(uint8_t* header, uint32_t version, const HeaderCounts& counts, const uint8_t* table_id);
// A new header's counts: version 2 writes both copies, the other one with
// the counter one lower (counts.counter must be at least 1).
void InitCounts(uint8_t* header, uint32_t version, const HeaderCounts& counts, const uint8_t* table_id);

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_HEADER_COUNTS_H_
