// CRC-32C (Castagnoli), the checksum of the data file's row counts and of
// every row of a plain table (docs/format.md). The processor's CRC
// instruction is used where there is one (SSE 4.2), a table otherwise; both
// give the same values.
#ifndef KX8_ENGINE_STORAGE_CHECKSUM_H_
#define KX8_ENGINE_STORAGE_CHECKSUM_H_

#include <array>
#include <cstddef>
#include <cstdint>

namespace dbe {

// Extends a CRC-32C over n more bytes; start with 0.
uint32_t Crc32c(uint32_t crc, const void* data, size_t n);

// The check of row `recno` of a plain table: CRC-32C of the row number
// (u32, little-endian) followed by the record image, so that a row moved to
// another slot fails too.
uint32_t RowChecksum(uint32_t recno, const uint8_t* record, uint32_t length);
// The same check, copying the record to out (not overlapping it) on the way:
// a row read takes its bytes once, for the check and the copy together.
uint32_t RowChecksumAndCopy(uint32_t recno, const uint8_t* record, uint32_t length, uint8_t* out);

// Turns the check of a row into the check of the same bytes under another
// row number without reading them again (a pack moves rows to lower
// numbers): CRC-32C is linear, so only the number's share changes.
class RowRenumbering {
 public:
  explicit RowRenumbering(uint32_t record_length);
  uint32_t Move(uint32_t check, uint32_t from, uint32_t to) const;

 private:
  std::array<std::array<uint32_t, 256>, 4> over_record_;
};

}  // namespace dbe

#endif  // KX8_ENGINE_STORAGE_CHECKSUM_H_
